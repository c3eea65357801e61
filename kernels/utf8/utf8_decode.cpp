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
void decode_by_char(const uint8_t* s, size_t n, Unit* d) {
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

inline __m128i load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline __m128i splat(unsigned b) { return _mm_set1_epi8(static_cast<char>(b)); }
// Lanes of a where `take` is set, of b elsewhere.
inline __m128i blend(__m128i take, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(take, a), _mm_andnot_si128(take, b));
}

// One step of moving kept bytes toward lane 0: the bytes whose distance has
// the bit `Lanes` move that many lanes. Steps run from the lowest bit up, so
// kept bytes never meet; a byte left behind goes on moving with the distance
// it copied and lands where no kept byte ends, and removed bytes, with
// distance 0, stay put and are overwritten or left past the end.
template <int Lanes, size_t Planes>
inline void move_step(__m128i (&planes)[Planes], __m128i& distance) {
  const __m128i incoming = _mm_srli_si128(distance, Lanes);
  const __m128i take = _mm_cmpeq_epi8(_mm_and_si128(incoming, splat(Lanes)), splat(Lanes));
  for (__m128i& plane : planes) plane = blend(take, _mm_srli_si128(plane, Lanes), plane);
  if constexpr (Lanes < 8) distance = blend(take, incoming, distance);
}

// The character ending at each lane of the 16 bytes at s, as byte planes of
// its value (bits 0-7, 8-15, 16-20, as many as the unit needs), moved
// together to the first lanes; returns how many characters end in the block.
// Lanes of bytes followed by a continuation byte end no character and are
// removed. `back1` to `back3` are the bytes one to three places before each.
template <size_t Planes>
inline unsigned block_values(__m128i (&planes)[Planes], __m128i v, __m128i back1, __m128i back2, __m128i back3,
                             __m128i next) {
  const __m128i ascii = _mm_cmpgt_epi8(v, _mm_set1_epi8(-1));
  const __m128i removed = _mm_cmplt_epi8(next, splat(0xC0));  // the next byte continues this one's character
  // Bits 0-5 from this byte, 6-7 from the one before (a continuation or a
  // two-byte lead: its low two bits either way). Shifts are of 16-bit lanes:
  // the bits that cross between bytes are masked off.
  const __m128i low = _mm_or_si128(_mm_and_si128(v, splat(0x3F)), _mm_and_si128(_mm_slli_epi16(back1, 6), splat(0xC0)));
  planes[0] = blend(ascii, v, low);
  if constexpr (Planes >= 2) {
    // Bits 8-11 from the byte before; 12-15 from the one before that when the
    // byte before continues (a three- or four-byte character).
    const __m128i back1_continues = _mm_cmplt_epi8(back1, splat(0xC0));
    const __m128i high = _mm_or_si128(
        _mm_and_si128(_mm_srli_epi16(back1, 2), splat(0x0F)),
        _mm_and_si128(_mm_and_si128(_mm_slli_epi16(back2, 4), splat(0xF0)), back1_continues));
    planes[1] = _mm_andnot_si128(ascii, high);
    if constexpr (Planes >= 3) {
      // Bits 16-20 of a four-byte character: two from the byte two back, three from its lead.
      const __m128i four = _mm_and_si128(back1_continues, _mm_cmplt_epi8(back2, splat(0xC0)));
      const __m128i top = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(back2, 4), splat(0x03)),
                                       _mm_and_si128(_mm_slli_epi16(back3, 2), splat(0x1C)));
      planes[2] = _mm_andnot_si128(ascii, _mm_and_si128(four, top));
    }
  }
  // Each kept lane moves down by the removed lanes up to it; removed lanes stay.
  __m128i distance = _mm_and_si128(removed, splat(1));
  distance = _mm_add_epi8(distance, _mm_slli_si128(distance, 1));
  distance = _mm_add_epi8(distance, _mm_slli_si128(distance, 2));
  distance = _mm_add_epi8(distance, _mm_slli_si128(distance, 4));
  distance = _mm_add_epi8(distance, _mm_slli_si128(distance, 8));
  // The last lane counts every removed lane (no population count in SSE2).
  const unsigned all_removed = static_cast<unsigned>(_mm_extract_epi16(distance, 7)) >> 8;
  distance = _mm_andnot_si128(removed, distance);
  move_step<1>(planes, distance);
  move_step<2>(planes, distance);
  move_step<4>(planes, distance);
  move_step<8>(planes, distance);
  return 16 - all_removed;
}

// 16 units from the planes (the first `Planes` of them hold bits).
template <typename Unit, size_t Planes>
inline void store_units(Unit* d, const __m128i (&planes)[Planes]) {
  if constexpr (sizeof(Unit) == 1) {
    store(d, planes[0]);
  } else if constexpr (sizeof(Unit) == 2) {
    store(d, _mm_unpacklo_epi8(planes[0], planes[1]));
    store(d + 8, _mm_unpackhi_epi8(planes[0], planes[1]));
  } else {
    const __m128i zero = _mm_setzero_si128();
    const __m128i low16[2] = {_mm_unpacklo_epi8(planes[0], planes[1]), _mm_unpackhi_epi8(planes[0], planes[1])};
    const __m128i high16[2] = {_mm_unpacklo_epi8(planes[2], zero), _mm_unpackhi_epi8(planes[2], zero)};
    for (int k = 0; k < 2; ++k) {
      store(d + 8 * k, _mm_unpacklo_epi16(low16[k], high16[k]));
      store(d + 8 * k + 4, _mm_unpackhi_epi16(low16[k], high16[k]));
    }
  }
}

// Whole blocks while 16 units fit the output: the characters that end in the
// rest of the text are at least its length over the longest encoding the
// unit holds. Then back to the start of the character under way, and one
// character at a time.
template <typename Unit>
void decode_blocks(const uint8_t* const start, size_t n, Unit* d) {
  constexpr size_t Planes = sizeof(Unit) == 1 ? 1 : sizeof(Unit) == 2 ? 2 : 3;
  constexpr size_t Longest = sizeof(Unit) == 1 ? 2 : sizeof(Unit) == 2 ? 3 : 4;
  const uint8_t* const end = start + n;
  const uint8_t* s = start;
  while (static_cast<size_t>(end - s) >= 16 * Longest) {
    const __m128i v = load16(s);
    if (_mm_movemask_epi8(v) == 0) {
      store_ascii(d, v);
      s += 16;
      d += 16;
      continue;
    }
    __m128i planes[Planes];
    // Before the text: zeros, which are ASCII.
    const unsigned ended =
        s == start ? block_values(planes, v, _mm_slli_si128(v, 1), _mm_slli_si128(v, 2), _mm_slli_si128(v, 3),
                                  load16(s + 1))
                   : block_values(planes, v, load16(s - 1), load16(s - 2), load16(s - 3), load16(s + 1));
    store_units(d, planes);
    s += 16;
    d += ended;
  }
  while (s != start && (*s & 0xC0) == 0x80) --s;
  decode_by_char(s, static_cast<size_t>(end - s), d);
}

// Calls decode with dst as a pointer to the str's units.
template <typename Decode>
void with_units(void* dst, unsigned kind, Decode decode) {
  switch (kind) {
    case 1:
      decode(static_cast<uint8_t*>(dst));
      break;
    case 2:
      decode(static_cast<uint16_t*>(dst));
      break;
    default:
      decode(static_cast<uint32_t*>(dst));
      break;
  }
}

}  // namespace

void utf8_decode_by_char(const uint8_t* src, size_t n, void* dst, unsigned kind) {
  with_units(dst, kind, [&](auto* d) { decode_by_char(src, n, d); });
}

void portable::utf8_decode(const uint8_t* src, size_t n, void* dst, unsigned kind) {
  with_units(dst, kind, [&](auto* d) { decode_blocks(src, n, d); });
}

}  // namespace vellum
