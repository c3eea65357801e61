#include "kernels/utf8/utf8_decode.hpp"

#include <emmintrin.h>

#include <cstring>

namespace vellum {
namespace {

inline void store(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }

// 16 ASCII bytes as 16 code units.
template <typename Unit>
inline void store_ascii(Unit* d, __m128i v) {
  const __m128i zero = _mm_setzero_si128();
  if constexpr (sizeof(Unit) == 1) {
    store(d, v);
  } else if constexpr (sizeof(Unit) == 2) {
    store(d, _mm_unpacklo_epi8(v, zero));
    store(d + 8, _mm_unpackhi_epi8(v, zero));
  } else {
    const __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
    store(d, _mm_unpacklo_epi16(lo, zero));
    store(d + 4, _mm_unpackhi_epi16(lo, zero));
    store(d + 8, _mm_unpacklo_epi16(hi, zero));
    store(d + 12, _mm_unpackhi_epi16(hi, zero));
  }
}

inline uint32_t load_u32(const uint8_t* p) {
  uint32_t w;
  std::memcpy(&w, p, 4);
  return w;
}

template <typename Unit>
inline const uint8_t* decode_char(const uint8_t* s, Unit*& d) {
  const uint32_t lead = s[0];
  uint32_t c;
  if (lead < 0x80) {
    c = lead;
    s += 1;
  } else if (lead < 0xE0) {
    c = ((lead & 0x1F) << 6) | (s[1] & 0x3Fu);
    s += 2;
  } else if (lead < 0xF0) {
    c = ((lead & 0x0F) << 12) | ((s[1] & 0x3Fu) << 6) | (s[2] & 0x3Fu);
    s += 3;
  } else {
    c = ((lead & 0x07) << 18) | ((s[1] & 0x3Fu) << 12) | ((s[2] & 0x3Fu) << 6) | (s[3] & 0x3Fu);
    s += 4;
  }
  *d++ = static_cast<Unit>(c);
  return s;
}

template <typename Unit>
void decode(const uint8_t* s, size_t n, Unit* d) {
  const uint8_t* const end = s + n;
  while (end - s >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v));
    const uint8_t* const block_end = s + 16;
    if (high == 0) {
      store_ascii(d, v);
      s += 16;
      d += 16;
      continue;
    }
    if (end - s >= 64) {
      // At least 16 characters remain, so all 16 units may be stored; only
      // the ASCII prefix is kept. Then characters one by one until four
      // ASCII bytes follow, and back to whole blocks there.
      const unsigned prefix = static_cast<unsigned>(__builtin_ctz(high));
      store_ascii(d, v);
      s += prefix;
      d += prefix;
      do s = decode_char(s, d);
      while (s < block_end && (load_u32(s) & 0x80808080u) != 0);
      continue;
    }
    // Near the end: the characters starting in this block.
    while (s < block_end) s = decode_char(s, d);
  }
  while (s < end) s = decode_char(s, d);
}

}  // namespace

void utf8_decode(const uint8_t* src, size_t n, void* dst, unsigned kind) {
  switch (kind) {
    case 1:
      decode(src, n, static_cast<uint8_t*>(dst));
      break;
    case 2:
      decode(src, n, static_cast<uint16_t*>(dst));
      break;
    default:
      decode(src, n, static_cast<uint32_t*>(dst));
      break;
  }
}

}  // namespace vellum
