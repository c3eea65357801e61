#include "loads/str_cache.hpp"

#include "core/ffi/make.hpp"
#include "core/ffi/str_hash.hpp"
#include "core/str/utf8_to_str.hpp"

namespace vellum {

bool same_text_slow(PyObject* str, const uint8_t* p, size_t n) {
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(str, &size);  // cached in the str after the first time
  if (text == nullptr) {
    PyErr_Clear();
    return false;
  }
  return static_cast<size_t>(size) == n && equal_bytes(reinterpret_cast<const uint8_t*>(text), p, n);
}

void release_str_cache(StrCache& cache) {
  for (StrSlot& slot : cache.slots) Py_CLEAR(slot.str);
}

PyObject* new_text_str(StrSlot* slot, uint64_t hash, const uint8_t* p, size_t n, bool ascii, bool hashed) {
  PyObject* str = ascii && n != 0 ? ffi::ascii_str(p, n) : utf8_to_str(p, n);
  if (str == nullptr) return nullptr;
  if (hashed) ffi::set_str_hash(str);
  if (slot != nullptr) {
    Py_XSETREF(slot->str, Py_NewRef(str));
    slot->hash = hash;
  }
  return str;
}

void stage_str(StrCache& cache, const uint8_t* p, size_t n, PyObject* str) {
  const uint64_t hash = text_hash(p, n);
  ffi::set_str_hash(str);
  StrSlot& slot = slot_of(cache, hash);
  Py_XSETREF(slot.str, Py_NewRef(str));
  slot.hash = hash;
}

}  // namespace vellum
