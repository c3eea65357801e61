#include "loads/key_cache.hpp"

#include <cstring>

#include "core/fatal.hpp"
#include "core/ffi/internal.hpp"
#include "core/ffi/make.hpp"
#include "core/str/utf8_to_str.hpp"
#include "core/typeref.hpp"

namespace vellum {

KeyMap* KEY_MAP = nullptr;
KeyMap* VALUE_MAP = nullptr;

bool same_text_slow(PyObject* str, const uint8_t* p, size_t n) {
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(str, &size);  // cached in the str after the first time
  if (text == nullptr) {
    PyErr_Clear();
    return false;
  }
  return static_cast<size_t>(size) == n && equal_bytes(reinterpret_cast<const uint8_t*>(text), p, n);
}

bool create_key_map() {
  if (KEY_MAP != nullptr) fail_internal("key cache set up twice");
  auto* maps = static_cast<KeyMap*>(allocate_or_raise(2 * sizeof(KeyMap)));
  if (maps == nullptr) return false;
  std::memset(maps, 0, 2 * sizeof(KeyMap));
  KEY_MAP = maps;
  VALUE_MAP = maps + 1;
  return true;
}

PyObject* new_text_str(KeySlot* slot, uint64_t hash, const uint8_t* p, size_t n, bool ascii, bool hashed) {
  PyObject* str = n == 0 ? Py_NewRef(type_refs.empty_str) : ascii ? ffi::ascii_str(p, n) : utf8_to_str(p, n);
  if (str == nullptr) return nullptr;
  if (hashed) ffi::set_str_hash(str);
  if (slot != nullptr) {
    Py_XSETREF(slot->key, Py_NewRef(str));
    slot->hash = hash;
  }
  return str;
}

}  // namespace vellum

extern "C" void vellum_key_cache_store(const uint8_t* p, size_t n, PyObject* str) {
  using namespace vellum;
  const uint64_t hash = text_hash(p, n);
  ffi::set_str_hash(str);
  KeySlot& slot = key_slot(hash);
  Py_XSETREF(slot.key, Py_NewRef(str));
  slot.hash = hash;
}
