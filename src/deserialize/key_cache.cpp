#include "src/deserialize/key_cache.hpp"

#include <bit>
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

// SipHash-1-3 with a zero key over the eight bytes of one 64-bit word.
constexpr uint64_t siphash13_word(uint64_t m) {
  uint64_t v0 = 0x736f6d6570736575ULL, v1 = 0x646f72616e646f6dULL;
  uint64_t v2 = 0x6c7967656e657261ULL, v3 = 0x7465646279746573ULL;
  auto round = [&] {
    v0 += v1, v1 = std::rotl(v1, 13), v1 ^= v0, v0 = std::rotl(v0, 32);
    v2 += v3, v3 = std::rotl(v3, 16), v3 ^= v2;
    v0 += v3, v3 = std::rotl(v3, 21), v3 ^= v0;
    v2 += v1, v1 = std::rotl(v1, 17), v1 ^= v2, v2 = std::rotl(v2, 32);
  };
  v3 ^= m, round(), v0 ^= m;
  const uint64_t last = uint64_t{8} << 56;  // the message length, no tail bytes
  v3 ^= last, round(), v0 ^= last;
  v2 ^= 0xff, round(), round(), round();
  return v0 ^ v1 ^ v2 ^ v3;
}

size_t slot_index(uint64_t hash) { return siphash13_word(hash) & (KeyMap::Slots - 1); }

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
