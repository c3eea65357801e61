// Decimal digit helpers shared by the integer and float writers: the pair
// table and eight-digit groups converted in one 64-bit word.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include <emmintrin.h>

namespace vellum::number {

static_assert(std::endian::native == std::endian::little,
              "digit words are laid out for a little-endian store");

// "00" "01" ... "99": two digits per lookup.
inline constexpr std::array<uint8_t, 200> TwoDigitTable = [] {
  std::array<uint8_t, 200> t{};
  for (int i = 0; i < 100; ++i) {
    t[2 * i] = static_cast<uint8_t>('0' + i / 10);
    t[2 * i + 1] = static_cast<uint8_t>('0' + i % 10);
  }
  return t;
}();

inline constexpr uint64_t AsciiZeros = 0x3030303030303030u;

// Stores the two digits of v < 100.
inline void copy_two_digits(uint8_t* dst, uint32_t v) {
  std::memcpy(dst, &TwoDigitTable[2 * v], 2);
}

// The eight digits of v < 10^8 (leading zeros included) as byte values 0..9,
// the first digit in the lowest byte so that one store writes them in order.
// Each step splits every lane in two with a multiply-and-shift reciprocal
// that is exact for the lane's range, so lanes never carry into each other.
inline constexpr uint64_t eight_digit_values(uint32_t v) {
  // 32-bit lanes: first four digits, last four digits.
  uint64_t x = (v / 10000) | (uint64_t{v % 10000} << 32);
  // x * 10486 >> 20 == x / 100 for x < 43699.
  const uint64_t hundreds = ((x * 10486) >> 20) & 0x0000007F0000007Fu;
  x = hundreds | ((x - hundreds * 100) << 16);
  // x * 103 >> 10 == x / 10 for x < 179.
  const uint64_t tens = ((x * 103) >> 10) & 0x000F000F000F000Fu;
  return tens | ((x - tens * 10) << 8);
}

// Number of trailing zero digits of a word from eight_digit_values (8 for 0).
inline constexpr int trailing_zero_digits(uint64_t values) {
  return std::countl_zero(values) >> 3;
}

inline void store_u64(uint8_t* dst, uint64_t w) { std::memcpy(dst, &w, 8); }

// A 16-bit lane constant the compiler cannot see through: it would expand a
// multiplication by a known constant into several shifts and adds, where
// one pmullw does.
inline __m128i opaque_u16(int v) {
  __m128i k = _mm_set1_epi16(static_cast<short>(v));
  __asm__("" : "+x"(k));
  return k;
}

// Sixteen digits of hi * 10^8 + lo (both < 10^8) as byte values 0..9 in
// memory order, converted together in one SSE2 register (baseline on
// x86-64): the lanes hold 8-, then 4-, then 2-digit groups, each split in
// two by a multiply-high with a reciprocal that is exact for its range.
inline __m128i sixteen_digit_values(uint32_t hi, uint32_t lo) {
  const __m128i x = _mm_set_epi64x(lo, hi);
  // 64-bit lanes: x / 10^4 == x * 3518437209 >> 45 for x < 10^8.
  const __m128i q4 = _mm_srli_epi64(_mm_mul_epu32(x, _mm_set1_epi32(static_cast<int>(3518437209u))), 45);
  const __m128i r4 = _mm_sub_epi32(x, _mm_mul_epu32(q4, _mm_set1_epi32(10000)));
  // 32-bit lanes of four digits: first half, second half.
  const __m128i v4 = _mm_or_si128(q4, _mm_slli_epi64(r4, 32));
  // v / 100 == (v * 5243 >> 16) >> 3 for v < 10^4.
  const __m128i q2 = _mm_srli_epi16(_mm_mulhi_epu16(v4, _mm_set1_epi16(5243)), 3);
  const __m128i r2 = _mm_sub_epi16(v4, _mm_mullo_epi16(q2, opaque_u16(100)));
  // 16-bit lanes of two digits.
  const __m128i v2 = _mm_or_si128(q2, _mm_slli_epi32(r2, 16));
  // v / 10 == v * 6554 >> 16 for v < 100; the lane v = 10t + u becomes
  // t + 256u = 256v - 2559t, the two digits in memory order.
  const __m128i q1 = _mm_mulhi_epu16(v2, _mm_set1_epi16(6554));
  return _mm_sub_epi16(_mm_slli_epi16(v2, 8), _mm_mullo_epi16(q1, opaque_u16(2559)));
}

// Number of trailing zero digits of sixteen_digit_values (16 for 0).
inline int trailing_zero_digits(__m128i values) {
  const unsigned zero = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(values, _mm_setzero_si128())));
  return std::countl_one(static_cast<uint16_t>(zero));
}

}  // namespace vellum::number
