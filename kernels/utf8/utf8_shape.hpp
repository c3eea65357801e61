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

// The shape of n >= 1 bytes holding `chars` characters: SSE2 finds the
// width. The forms below differ only in how they count.
Utf8Shape utf8_shape_of_count(const uint8_t* p, size_t n, size_t chars);

namespace portable {
Utf8Shape utf8_shape(const uint8_t* p, size_t n);
}
// Counting with AVX2.
namespace avx2 {
Utf8Shape utf8_shape(const uint8_t* p, size_t n);
}
// 64-byte vectors for both passes; needs AVX-512BW.
namespace avx512 {
Utf8Shape utf8_shape(const uint8_t* p, size_t n);
}
// The same code over portable intrinsics (test build only).
namespace avx512_simde {
Utf8Shape utf8_shape(const uint8_t* p, size_t n);
}

}  // namespace vellum
