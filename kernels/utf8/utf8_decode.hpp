// Decoding of valid UTF-8 into fixed-width code units.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellum {

// Writes one code unit of `kind` bytes (1, 2 or 4) per character of the n
// bytes at src, which must be valid UTF-8 whose characters all fit the unit;
// dst must hold the character count of units (utf8_shape's chars). Writes
// nothing past them; the terminating NUL is the caller's.
using Utf8DecodeFn = void (*)(const uint8_t* src, size_t n, void* dst, unsigned kind);

// One character at a time (ASCII 16 bytes at a time): the plain twin of the
// block decoder, which finishes its texts with it.
void utf8_decode_by_char(const uint8_t* src, size_t n, void* dst, unsigned kind);

namespace portable {
// In 16-byte SSE2 blocks, without a branch on the characters' lengths.
void utf8_decode(const uint8_t* src, size_t n, void* dst, unsigned kind);
}  // namespace portable

}  // namespace vellum
