#include "loads/key_cache.hpp"

#include <cstring>

#include "core/fatal.hpp"
#include "core/ffi/internal.hpp"
#include "core/str/utf8_to_str.hpp"
#include "core/typeref.hpp"

namespace vellum {

KeyMap* KEY_MAP = nullptr;

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
  auto* map = static_cast<KeyMap*>(allocate_or_raise(sizeof(KeyMap)));
  if (map == nullptr) return false;
  std::memset(map, 0, sizeof(KeyMap));
  KEY_MAP = map;
  return true;
}

PyObject* key_str_miss(KeySlot& slot, uint64_t hash, const uint8_t* p, size_t n) {
  PyObject* str = n == 0 ? Py_NewRef(type_refs.empty_str) : utf8_to_str(p, n);
  if (str == nullptr) return nullptr;
  ffi::set_str_hash(str);
  Py_XSETREF(slot.key, Py_NewRef(str));
  slot.hash = hash;
  return str;
}

}  // namespace vellum

extern "C" void vellum_key_cache_store(const uint8_t* p, size_t n, PyObject* str) {
  using namespace vellum;
  const uint64_t hash = key_hash(p, n);
  ffi::set_str_hash(str);
  KeySlot& slot = key_slot(hash);
  Py_XSETREF(slot.key, Py_NewRef(str));
  slot.hash = hash;
}
