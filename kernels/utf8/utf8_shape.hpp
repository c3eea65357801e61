// The shape of a str about to be built from valid UTF-8: its length in
// characters and the bound of its canonical character width.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellum {

struct Utf8Shape {
  size_t chars;
  uint32_t max_char;  // 127 (ASCII), 255, 0xFFFF or 0x10FFFF
};

// Width bound of non-ASCII text from its largest byte: lead bytes from 0xF0
// begin characters above U+FFFF, lead bytes from 0xC4 characters above U+00FF.
constexpr uint32_t width_bound(uint8_t max_byte) {
  return max_byte >= 0xF0 ? 0x10FFFF : max_byte >= 0xC4 ? 0xFFFF : 0xFF;
}

// The largest of n >= 1 bytes, with SSE2.
uint8_t largest_byte(const uint8_t* p, size_t n);

// The shape of n bytes holding `chars` characters. The portable and AVX2
// forms differ only in how they count.
inline Utf8Shape utf8_shape_of_count(const uint8_t* p, size_t n, size_t chars) {
  if (chars == n) return {n, 0x7F};
  // A leading four-byte character settles the width without a scan.
  if (p[0] >= 0xF0) return {chars, 0x10FFFF};
  return {chars, width_bound(largest_byte(p, n))};
}

namespace portable {
Utf8Shape utf8_shape(const uint8_t* p, size_t n);
}

}  // namespace vellum
