// Caches of short strs, two per module (in its state, loads/state.hpp): dict
// keys, so that loads creates and hashes each such key once and shares it
// between dicts, and string values, which repeat in real documents as much as
// keys do (names, tags, states).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "core/python.hpp"

namespace vellum {

inline constexpr size_t MaxCachedKeyLength = 64;
// Values a little longer than keys: a repeated sentence or URL costs the
// most memory when each copy is a str of its own.
inline constexpr size_t MaxCachedValueLength = 128;

struct StrSlot {
  uint64_t hash;  // text_hash of the str's UTF-8
  PyObject* str;  // owned; null while the slot is empty
};

// Direct-mapped: each text hash has exactly one slot. Zero-filled memory is
// an empty cache; it lives as long as the module's state and gives back its
// strs with it (release_str_cache).
struct StrCache {
  static constexpr size_t Slots = 2048;
  StrSlot slots[Slots];
};

void release_str_cache(StrCache& cache);

namespace text_hash_detail {
inline uint64_t word(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}
inline uint64_t half(const uint8_t* p) {
  uint32_t w;
  std::memcpy(&w, p, 4);
  return w;
}
// The two halves of a 128-bit product folded together.
inline uint64_t fold(uint64_t a, uint64_t b) {
  const unsigned __int128 m = static_cast<unsigned __int128>(a) * b;
  return static_cast<uint64_t>(m) ^ static_cast<uint64_t>(m >> 64);
}
}  // namespace text_hash_detail

// A 64-bit hash of a text's bytes, to find its slot and to tell texts apart
// before their bytes are compared. Texts of up to 16 bytes (most keys and
// short values) take two overlapping words and one multiplication; longer
// ones XXH3-64.
inline uint64_t text_hash(const uint8_t* p, size_t n) {
  using namespace text_hash_detail;
  if (n > 16) return XXH3_64bits(p, n);
  uint64_t a, b;
  if (n >= 8) {
    a = word(p);
    b = word(p + n - 8);
  } else if (n >= 4) {
    a = half(p);
    b = half(p + n - 4);
  } else {
    a = n == 0 ? 0 : uint64_t{p[0]} | uint64_t{p[n / 2]} << 8 | uint64_t{p[n - 1]} << 16;
    b = 0;
  }
  return fold(a ^ 0x9E3779B97F4A7C15u, b ^ 0xD6E8FEB86659FD93u ^ n);
}

inline StrSlot& slot_of(StrCache& cache, uint64_t hash) {
  // The hash is already uniform: one multiplication spreads it over the top
  // bits, which pick the slot.
  static_assert(StrCache::Slots == size_t{1} << 11);
  return cache.slots[(hash * 0x9E3779B97F4A7C15u) >> (64 - 11)];
}

// Whether the slot's str is the text. The 64-bit hash is no proof of
// equality: texts with equal hashes can be made on purpose.
bool same_text_slow(PyObject* str, const uint8_t* p, size_t n);
// Short texts compare as two overlapping words, without a library call.
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
  // The first, middle and last bytes are all the bytes of a text of 1 to 3.
  return n == 0 || ((a[0] ^ b[0]) | (a[n / 2] ^ b[n / 2]) | (a[n - 1] ^ b[n - 1])) == 0;
}
inline bool same_text(PyObject* str, const uint8_t* p, size_t n) {
  if (PyUnicode_IS_COMPACT_ASCII(str)) [[likely]]
    return static_cast<size_t>(PyUnicode_GET_LENGTH(str)) == n &&
           equal_bytes(static_cast<const uint8_t*>(PyUnicode_DATA(str)), p, n);
  return same_text_slow(str, p, n);
}

// The cached str equal to the text, as a new reference, or null when the
// slot holds another.
[[gnu::always_inline]] inline PyObject* cached_str(StrSlot& slot, uint64_t hash, const uint8_t* p, size_t n) {
  if (slot.str != nullptr && slot.hash == hash && same_text(slot.str, p, n)) [[likely]]
    return Py_NewRef(slot.str);
  return nullptr;
}

// A new str of the text (valid UTF-8; ASCII when `ascii`), with its hash
// set when `hashed`; stored in the slot when `slot` is not null. Null with
// MemoryError pending.
PyObject* new_text_str(StrSlot* slot, uint64_t hash, const uint8_t* p, size_t n, bool ascii, bool hashed);

// Puts `str` (its hash set) in the slot of the text p[0..n), as if it had been
// cached for those bytes: what a hash collision leaves behind, for a test.
void stage_str(StrCache& cache, const uint8_t* p, size_t n, PyObject* str);

}  // namespace vellum

