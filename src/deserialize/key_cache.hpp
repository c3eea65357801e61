// Process-wide cache of short dict-key strs, so that loads creates and hashes
// each such key once and shares it between dicts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "src/export.hpp"
#include "src/python.hpp"

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

// A new reference to a str equal to the key (0 to 64 bytes of valid UTF-8)
// with its hash already set; null with MemoryError pending.
PyObject* key_str(const uint8_t* p, size_t n);

}  // namespace vellum

// Test hook: puts `str` in the slot of `p[0..n)` as if it had been cached for
// those bytes, so that a test can stage what a hash collision leaves behind.
extern "C" VELLUM_EXPORT void vellum_key_cache_store(const uint8_t* p, size_t n, PyObject* str);
