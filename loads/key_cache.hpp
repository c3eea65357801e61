// Process-wide cache of short dict-key strs, so that loads creates and hashes
// each such key once and shares it between dicts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "core/export.hpp"
#include "core/python.hpp"

namespace vellum {

inline constexpr size_t MaxCachedKeyLength = 64;

struct KeySlot {
  uint64_t hash;    // XXH3-64 of the key's UTF-8
  PyObject* key;    // owned; null while the slot is empty
};

// Direct-mapped: each key hash has exactly one slot.
struct KeyMap {
  static constexpr size_t Slots = 2048;
  KeySlot slots[Slots];
};

extern KeyMap* KEY_MAP;

// Once per process, from the module's shared-state initialisation. False
// with MemoryError set when the slots cannot be allocated.
[[nodiscard]] bool create_key_map();

// XXH3-64 (seed 0) of the key's bytes, and the key's slot.
inline uint64_t key_hash(const uint8_t* p, size_t n) { return XXH3_64bits(p, n); }
inline KeySlot& key_slot(uint64_t hash) {
  // XXH3's hash is already uniform: one multiplication spreads it over the
  // top bits, which pick the slot. (A further hash of the hash would only
  // lengthen the chain that every key waits on before its slot is read.)
  static_assert(KeyMap::Slots == size_t{1} << 11);
  return KEY_MAP->slots[(hash * 0x9E3779B97F4A7C15u) >> (64 - 11)];
}

// Whether the slot's str is the key. The 64-bit hash is no proof of
// equality: keys with equal hashes can be made on purpose.
bool same_text_slow(PyObject* str, const uint8_t* p, size_t n);
// Short keys compare as two overlapping words, without a library call.
inline bool equal_bytes(const uint8_t* a, const uint8_t* b, size_t n) {
  auto word = [](const uint8_t* q, auto w) {
    std::memcpy(&w, q, sizeof w);
    return w;
  };
  if (n >= 8) {
    if (n > 16) return std::memcmp(a, b, n) == 0;
    return ((word(a, uint64_t{}) ^ word(b, uint64_t{})) | (word(a + n - 8, uint64_t{}) ^ word(b + n - 8, uint64_t{}))) == 0;
  }
  if (n >= 4)
    return ((word(a, uint32_t{}) ^ word(b, uint32_t{})) | (word(a + n - 4, uint32_t{}) ^ word(b + n - 4, uint32_t{}))) == 0;
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return false;
  return true;
}
inline bool same_text(PyObject* str, const uint8_t* p, size_t n) {
  if (PyUnicode_IS_COMPACT_ASCII(str)) [[likely]]
    return static_cast<size_t>(PyUnicode_GET_LENGTH(str)) == n &&
           equal_bytes(static_cast<const uint8_t*>(PyUnicode_DATA(str)), p, n);
  return same_text_slow(str, p, n);
}

// The slot's new str, for a key that missed.
PyObject* key_str_miss(KeySlot& slot, uint64_t hash, const uint8_t* p, size_t n);

// A new reference to a str equal to the key (0 to 64 bytes of valid UTF-8)
// with its hash already set; null with MemoryError pending.
inline PyObject* key_str(const uint8_t* p, size_t n) {
  const uint64_t hash = key_hash(p, n);
  KeySlot& slot = key_slot(hash);
  if (slot.key != nullptr && slot.hash == hash && same_text(slot.key, p, n)) [[likely]]
    return Py_NewRef(slot.key);
  return key_str_miss(slot, hash, p, n);
}

}  // namespace vellum

// Test hook: puts `str` in the slot of `p[0..n)` as if it had been cached for
// those bytes, so that a test can stage what a hash collision leaves behind.
extern "C" VELLUM_EXPORT void vellum_key_cache_store(const uint8_t* p, size_t n, PyObject* str);
