#include "src/deserialize/key_cache.hpp"

#include <cstring>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "src/fatal.hpp"
#include "src/ffi/internal.hpp"
#include "src/str/utf8_to_str.hpp"
#include "src/typeref.hpp"

namespace vellum {

KeyMap* KEY_MAP = nullptr;

namespace {

// XXH3's hash is already uniform: one multiplication spreads it over the
// top bits, which pick the slot. (A further hash of the hash would only
// lengthen the chain that every key waits on before its slot is read.)
constexpr size_t slot_index(uint64_t hash) { return (hash * 0x9E3779B97F4A7C15u) >> (64 - 11); }
static_assert(KeyMap::Slots == size_t{1} << 11);

template <typename Word>
Word load(const uint8_t* p) {
  Word w;
  std::memcpy(&w, p, sizeof(Word));
  return w;
}

// Short keys compare as two overlapping words, without a library call.
bool equal_bytes(const uint8_t* a, const uint8_t* b, size_t n) {
  if (n >= 8) {
    if (n > 16) return std::memcmp(a, b, n) == 0;
    return ((load<uint64_t>(a) ^ load<uint64_t>(b)) | (load<uint64_t>(a + n - 8) ^ load<uint64_t>(b + n - 8))) == 0;
  }
  if (n >= 4) return ((load<uint32_t>(a) ^ load<uint32_t>(b)) | (load<uint32_t>(a + n - 4) ^ load<uint32_t>(b + n - 4))) == 0;
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

// The 64-bit hash is no proof of equality: keys with equal hashes can be
// made on purpose, so a hit also compares the text.
bool same_text(PyObject* str, const uint8_t* p, size_t n) {
  if (PyUnicode_IS_COMPACT_ASCII(str))
    return static_cast<size_t>(PyUnicode_GET_LENGTH(str)) == n &&
           equal_bytes(static_cast<const uint8_t*>(PyUnicode_DATA(str)), p, n);
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(str, &size);  // cached in the str after the first time
  if (text == nullptr) {
    PyErr_Clear();
    return false;
  }
  return static_cast<size_t>(size) == n && equal_bytes(reinterpret_cast<const uint8_t*>(text), p, n);
}

}  // namespace

bool create_key_map() {
  if (KEY_MAP != nullptr) fail_internal("key cache set up twice");
  auto* map = static_cast<KeyMap*>(allocate_or_raise(sizeof(KeyMap)));
  if (map == nullptr) return false;
  std::memset(map, 0, sizeof(KeyMap));
  KEY_MAP = map;
  return true;
}

PyObject* key_str(const uint8_t* p, size_t n) {
  const uint64_t hash = XXH3_64bits(p, n);
  KeySlot& slot = KEY_MAP->slots[slot_index(hash)];
  if (slot.key != nullptr && slot.hash == hash && same_text(slot.key, p, n)) [[likely]]
    return Py_NewRef(slot.key);

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
  const uint64_t hash = XXH3_64bits(p, n);
  ffi::set_str_hash(str);
  KeySlot& slot = KEY_MAP->slots[slot_index(hash)];
  Py_XSETREF(slot.key, Py_NewRef(str));
  slot.hash = hash;
}
