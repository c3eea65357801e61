#include "kernels/utf8/utf8_encode.hpp"

#include <emmintrin.h>

namespace vellum {
namespace {

// The 16 units at s narrowed to 16 bytes at d, if all are ASCII.
[[gnu::always_inline]] inline bool ascii_block(const uint8_t* s, uint8_t* d) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  if (_mm_movemask_epi8(a) != 0) return false;
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), a);
  return true;
}

[[gnu::always_inline]] inline bool ascii_block(const uint16_t* s, uint8_t* d) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 8));
  const __m128i high = _mm_and_si128(_mm_or_si128(a, b), _mm_set1_epi16(static_cast<short>(0xFF80)));
  if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) != 0xFFFF) return false;
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(a, b));
  return true;
}

[[gnu::always_inline]] inline bool ascii_block(const uint32_t* s, uint8_t* d) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4));
  const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 8));
  const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 12));
  const __m128i any = _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, e));
  const __m128i high = _mm_and_si128(any, _mm_set1_epi32(static_cast<int>(0xFFFFFF80)));
  if (_mm_movemask_epi8(_mm_cmpeq_epi32(high, _mm_setzero_si128())) != 0xFFFF) return false;
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, e)));
  return true;
}

template <class Unit>
size_t encode(const Unit* s, size_t n, uint8_t* d) {
  uint8_t* const start = d;
  const Unit* const end = s + n;
  while (s != end) {
    // Where ASCII starts, 16 units at a time until a block is not all ASCII.
    if (*s < 0x80) {
      while (end - s >= 16 && ascii_block(s, d)) {
        s += 16;
        d += 16;
      }
      while (s != end && *s < 0x80) *d++ = static_cast<uint8_t>(*s++);
      continue;
    }
    // Other characters one at a time: a text keeps to a few scripts, whose
    // lengths the branches learn (a branchless store of each character's
    // word took more instructions, and was no faster where lengths mix).
    const uint32_t c = *s++;
    if (sizeof(Unit) == 1 || c < 0x800) {
      d[0] = static_cast<uint8_t>(0xC0 | c >> 6);
      d[1] = static_cast<uint8_t>(0x80 | (c & 0x3F));
      d += 2;
    } else if (c < 0x10000) {
      if ((c & 0xF800) == 0xD800) [[unlikely]]
        return Utf8Unencodable;
      d[0] = static_cast<uint8_t>(0xE0 | c >> 12);
      d[1] = static_cast<uint8_t>(0x80 | (c >> 6 & 0x3F));
      d[2] = static_cast<uint8_t>(0x80 | (c & 0x3F));
      d += 3;
    } else {
      d[0] = static_cast<uint8_t>(0xF0 | c >> 18);
      d[1] = static_cast<uint8_t>(0x80 | (c >> 12 & 0x3F));
      d[2] = static_cast<uint8_t>(0x80 | (c >> 6 & 0x3F));
      d[3] = static_cast<uint8_t>(0x80 | (c & 0x3F));
      d += 4;
    }
  }
  return static_cast<size_t>(d - start);
}

}  // namespace

size_t utf8_encode(const void* src, size_t n, unsigned kind, uint8_t* dst) {
  if (kind == 1) return encode(static_cast<const uint8_t*>(src), n, dst);
  if (kind == 2) return encode(static_cast<const uint16_t*>(src), n, dst);
  return encode(static_cast<const uint32_t*>(src), n, dst);
}

}  // namespace vellum
