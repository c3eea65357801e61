// Float text: sign, shortest digits, then fixed or exponent notation.
// Inline, so that the array and list writers of dumps run consecutive
// conversions side by side.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "kernels/number/digits.hpp"
#include "kernels/number/shortest.hpp"

namespace vellum::number {

inline constexpr uint64_t Pow10U64[18] = {
    1u,
    10u,
    100u,
    1000u,
    10000u,
    100000u,
    1000000u,
    10000000u,
    100000000u,
    1000000000u,
    10000000000u,
    100000000000u,
    1000000000000u,
    10000000000000u,
    100000000000000u,
    1000000000000000u,
    10000000000000000u,
    100000000000000000u,
};

// Decimal digit count of 1 <= v < 10^17.
inline int decimal_length(uint64_t v) {
  // bit_width * 1233 / 4096 is floor(log10) or one more.
  const int guess = (static_cast<int>(std::bit_width(v)) * 1233) >> 12;
  return guess + (v >= Pow10U64[guess] ? 1 : 0);
}

inline void store_16(uint8_t* dst, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), v); }

// The exponent texts of every double's first-digit exponent, -324 to 308:
// 'e', the sign and |e| without leading zeros in the low bytes, the length
// in the top byte. One lookup and one store, with no branch on the exponent
// and no division.
inline constexpr int ExponentTextMin = -324;
inline constexpr auto ExponentTexts = [] {
  std::array<uint64_t, 308 - ExponentTextMin + 1> table{};
  for (int e = ExponentTextMin; e <= 308; ++e) {
    const int a = e < 0 ? -e : e;
    uint8_t text[5] = {'e', static_cast<uint8_t>(e < 0 ? '-' : '+')};
    int n = 2;
    if (a >= 100) text[n++] = static_cast<uint8_t>('0' + a / 100);
    if (a >= 10) text[n++] = static_cast<uint8_t>('0' + a / 10 % 10);
    text[n++] = static_cast<uint8_t>('0' + a % 10);
    uint64_t word = uint64_t(n) << 56;
    for (int i = 0; i < n; ++i) word |= uint64_t{text[i]} << (8 * i);
    table[static_cast<size_t>(e - ExponentTextMin)] = word;
  }
  return table;
}();

// Stores eight bytes at p; returns the end of the exponent text.
inline uint8_t* write_exponent(uint8_t* p, int e) {
  const uint64_t word = ExponentTexts[static_cast<size_t>(e - ExponentTextMin)];
  store_u64(p, word);
  return p + (word >> 56);
}

// Double layout of a significand widened to exactly 17 digits (padded with
// zeros): its first digit d1 (text), a 16-byte block of the others (text),
// the count of significant digits and the first digit's exponent e; fixed
// notation for e in -5..15. Every layout stores the block whole and then
// cuts it to length: at most 16 bytes land past the returned end.
inline uint8_t* place_decimal_17(uint8_t* dst, uint8_t d1, __m128i text, int digits, int e) {
  constexpr int FixedMin = -5;
  constexpr int FixedMax = 15;
  if (static_cast<unsigned>(e - FixedMin) <= static_cast<unsigned>(FixedMax - FixedMin)) {
    if (e < 0) {
      // "0." and -e - 1 zeros (at most 5), then the digits.
      static_assert(FixedMin >= -6);
      store_u64(dst, 0x303030303030'2E30u);  // "0.000000"
      uint8_t* p = dst + 1 - e;
      p[0] = d1;
      store_16(p + 1, text);
      return p + digits;
    }
    static_assert(FixedMax <= 15);
    dst[0] = d1;
    store_16(dst + 1, text);
    if (e >= digits - 1) {
      // Integral: the padding zeros of the 17 digits fill up to the point.
      std::memcpy(dst + e + 1, ".0", 2);
      return dst + e + 3;
    }
    // Point after e + 1 digits: store the word holding that position again,
    // one byte further on, from the digit after the point.
    const uint64_t b = static_cast<uint64_t>(_mm_cvtsi128_si64(text));
    const uint64_t c = static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(text, text)));
    if (e < 8) {
      store_u64(dst + e + 2, b >> (8 * e));
      store_u64(dst + 10, c);
    } else {
      store_u64(dst + e + 2, c >> (8 * (e - 8)));
    }
    dst[e + 1] = '.';
    return dst + digits + 1;
  }

  dst[0] = d1;
  dst[1] = '.';
  store_16(dst + 2, text);
  return write_exponent(dst + (digits > 1 ? digits + 1 : 1), e);
}

// Double layout of significand * 10^exponent (significand < 10^17, not
// zero): widened to 17 digits, then placed.
inline uint8_t* write_decimal_17(uint8_t* dst, Decimal d) {
  uint64_t wide;
  int e;  // exponent of the first digit
  if (d.significand >= 1000000000000000u) {
    // Most doubles: 16 or 17 digits, widened without a length search, and
    // by a product rather than a choice, which the compiler would make a
    // branch that random digits mispredict half of the time.
    const uint64_t sixteen = d.significand < 10000000000000000u;
    wide = d.significand * (1 + 9 * sixteen);
    e = d.exponent + 16 - static_cast<int>(sixteen);
  } else {
    const int length = decimal_length(d.significand);
    wide = d.significand * Pow10U64[17 - length];
    e = d.exponent + length - 1;
  }

  // Both quotients straight from `wide`, so they run side by side.
  const uint64_t upper9 = wide / 100000000;
  const uint64_t first = wide / 10000000000000000u;
  const uint8_t d1 = static_cast<uint8_t>('0' + first);
  const __m128i values = sixteen_digit_values(static_cast<uint32_t>(upper9 - first * 100000000),
                                              static_cast<uint32_t>(wide - upper9 * 100000000));
  const int digits = 17 - trailing_zero_digits(values);
  const __m128i text = _mm_add_epi8(values, _mm_set1_epi8('0'));
  return place_decimal_17(dst, d1, text, digits, e);
}

// Single layout, fixed notation for -6..12, as above with nine digits: the
// first and one word of eight (b, text).
inline uint8_t* place_decimal_9(uint8_t* dst, uint8_t d1, uint64_t b, int digits, int e) {
  constexpr int FixedMin = -6;
  constexpr int FixedMax = 12;
  if (static_cast<unsigned>(e - FixedMin) <= static_cast<unsigned>(FixedMax - FixedMin)) {
    if (e < 0) {
      store_u64(dst, 0x303030303030'2E30u);  // "0." and up to six zeros
      uint8_t* p = dst + 1 - e;
      p[0] = d1;
      store_u64(p + 1, b);
      return p + digits;
    }
    dst[0] = d1;
    store_u64(dst + 1, b);
    if (e >= digits - 1) {
      // Up to 13 integral digits: zeros after the nine.
      store_u64(dst + 9, AsciiZeros);
      std::memcpy(dst + e + 1, ".0", 2);
      return dst + e + 3;
    }
    store_u64(dst + e + 2, b >> (8 * e));
    dst[e + 1] = '.';
    return dst + digits + 1;
  }

  dst[0] = d1;
  dst[1] = '.';
  store_u64(dst + 2, b);
  return write_exponent(dst + (digits > 1 ? digits + 1 : 1), e);
}

// Single layout of significand * 10^exponent (significand < 10^9, not zero).
inline uint8_t* write_decimal_9(uint8_t* dst, Decimal d) {
  uint64_t wide;
  int e;
  if (d.significand >= 10000000u) {
    // Normal singles: 8 or 9 digits.
    const bool eight = d.significand < 100000000u;
    wide = eight ? d.significand * 10 : d.significand;
    e = d.exponent + 8 - eight;
  } else {
    const int length = decimal_length(d.significand);
    wide = d.significand * Pow10U64[9 - length];
    e = d.exponent + length - 1;
  }
  const uint32_t first = static_cast<uint32_t>(wide / 100000000);
  const uint8_t d1 = static_cast<uint8_t>('0' + first);
  const uint64_t values = eight_digit_values(static_cast<uint32_t>(wide - uint64_t{first} * 100000000));
  const int digits = 9 - trailing_zero_digits(values);
  return place_decimal_9(dst, d1, values + AsciiZeros, digits, e);
}

template <class Layout, uint8_t* (*write_decimal)(uint8_t*, Decimal)>
inline uint8_t* format_float(uint8_t* dst, typename Layout::Bits bits) {
  using Bits = typename Layout::Bits;
  constexpr int SignShift = sizeof(Bits) * 8 - 1;
  const Bits magnitude = bits & ~(Bits{1} << SignShift);
  if ((magnitude >> Layout::SignificandBits) == Layout::ExponentMask) {
    std::memcpy(dst, "null", 4);
    return dst + 4;
  }
  dst[0] = '-';
  dst += bits >> SignShift;
  if (magnitude == 0) {
    std::memcpy(dst, "0.0", 3);
    return dst + 3;
  }
  return write_decimal(dst, shortest_decimal_of<Layout>(magnitude));
}

}  // namespace vellum::number
