// Number text for dumps: exact decimal integers and shortest round-trip
// floats. Pure kernels on raw memory; the writers on the output buffer are
// built on top of them.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kernels/number/digits.hpp"
#include "kernels/number/float_text.hpp"

namespace vellum {

inline constexpr size_t MaxU32Digits = 10;
inline constexpr size_t MaxU64Digits = 20;
inline constexpr size_t MaxI64Text = 20;  // -9223372036854775808
// Longest float texts: -1.7976931348623157e+308, -0.000012345678901234567
// and -0.0000012345678 (single).
inline constexpr size_t MaxF64Text = 24;
inline constexpr size_t MaxF32Text = 17;
// The float writers may store up to this many bytes past the end they return.
inline constexpr size_t FloatOverhang = 16;

namespace number {

// v < 10^4, one to four digits.
inline size_t write_up_to_4(uint32_t v, uint8_t* dst) {
  if (v < 100) {
    if (v < 10) {
      dst[0] = static_cast<uint8_t>('0' + v);
      return 1;
    }
    copy_two_digits(dst, v);
    return 2;
  }
  const uint32_t hi = v / 100;
  const uint32_t lo = v % 100;
  if (hi < 10) {
    dst[0] = static_cast<uint8_t>('0' + hi);
    copy_two_digits(dst + 1, lo);
    return 3;
  }
  copy_two_digits(dst, hi);
  copy_two_digits(dst + 2, lo);
  return 4;
}

// v < 10^4, exactly four digits.
inline void write_4(uint32_t v, uint8_t* dst) {
  copy_two_digits(dst, v / 100);
  copy_two_digits(dst + 2, v % 100);
}

// v < 10^8, exactly eight digits.
inline void write_8(uint32_t v, uint8_t* dst) { store_u64(dst, eight_digit_values(v) + AsciiZeros); }

// v < 10^8, one to eight digits.
inline size_t write_up_to_8(uint32_t v, uint8_t* dst) {
  if (v < 10000) return write_up_to_4(v, dst);
  const size_t n = write_up_to_4(v / 10000, dst);
  write_4(v % 10000, dst + n);
  return n + 4;
}

}  // namespace number

// Decimal digits of value, no sign, no leading zeros ("0" for 0). Writes
// exactly the returned count of bytes (at most 10).
inline size_t format_u32(uint32_t value, uint8_t* dst) {
  if (value < 100000000) return number::write_up_to_8(value, dst);
  const uint32_t hi = value / 100000000;  // 1..42
  size_t n;
  if (hi < 10) {
    dst[0] = static_cast<uint8_t>('0' + hi);
    n = 1;
  } else {
    number::copy_two_digits(dst, hi);
    n = 2;
  }
  number::write_8(value % 100000000, dst + n);
  return n + 8;
}

// As format_u32 for 64-bit values (at most 20 bytes).
inline size_t format_u64(uint64_t value, uint8_t* dst) {
  if (value < 100000000) return number::write_up_to_8(static_cast<uint32_t>(value), dst);
  if (value < 10000000000000000u) {
    const size_t n = number::write_up_to_8(static_cast<uint32_t>(value / 100000000), dst);
    number::write_8(static_cast<uint32_t>(value % 100000000), dst + n);
    return n + 8;
  }
  const uint64_t low16 = value % 10000000000000000u;
  const size_t n = number::write_up_to_4(static_cast<uint32_t>(value / 10000000000000000u), dst);
  number::write_8(static_cast<uint32_t>(low16 / 100000000), dst + n);
  number::write_8(static_cast<uint32_t>(low16 % 100000000), dst + n + 8);
  return n + 16;
}

// The text of every 8-bit value, signed or not (at most "-128"): its bytes
// in the low four bytes of the word, their count in the top byte.
template <typename Byte>
inline constexpr std::array<uint64_t, 256> ByteTexts = [] {
  static_assert(sizeof(Byte) == 1);
  std::array<uint64_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    const int v = static_cast<Byte>(i);
    const int magnitude = v < 0 ? -v : v;
    uint8_t text[4] = {};
    int n = 0;
    if (v < 0) text[n++] = '-';
    if (magnitude >= 100) text[n++] = static_cast<uint8_t>('0' + magnitude / 100);
    if (magnitude >= 10) text[n++] = static_cast<uint8_t>('0' + magnitude / 10 % 10);
    text[n++] = static_cast<uint8_t>('0' + magnitude % 10);
    uint64_t word = uint64_t(n) << 56;
    for (int k = 0; k < 4; ++k) word |= uint64_t{text[k]} << (8 * k);
    table[static_cast<size_t>(i)] = word;
  }
  return table;
}();

// Decimal text of an 8-bit value, without a branch on its length. Stores
// four bytes and returns the end of the text (one to four bytes on).
template <typename Byte>
inline uint8_t* format_byte(uint8_t* dst, Byte value) {
  const uint64_t entry = ByteTexts<Byte>[static_cast<uint8_t>(value)];
  const auto text = static_cast<uint32_t>(entry);
  std::memcpy(dst, &text, 4);
  return dst + (entry >> 56);
}

// '-' and the magnitude for negative values; returns the end. The magnitude
// is taken in the unsigned type so that the minimum is exact.
inline uint8_t* format_i64(uint8_t* dst, int64_t value) {
  uint64_t magnitude = static_cast<uint64_t>(value);
  if (value < 0) {
    *dst++ = '-';
    magnitude = 0 - magnitude;
  }
  return dst + format_u64(magnitude, dst);
}

// Shortest round-trip text of a finite double or single: digits that read
// back to the same value, nearest of the shortest, ties to an even digit,
// always with a '.' or an exponent. Return the end; may store up to
// FloatOverhang bytes past it. A NaN or infinity gives null, which is
// what the JSON writers want for them.
inline uint8_t* format_f64(uint8_t* dst, double v) {
  return number::format_float<number::DoubleLayout, number::write_decimal_17>(dst, std::bit_cast<uint64_t>(v));
}
inline uint8_t* format_f32(uint8_t* dst, float v) {
  return number::format_float<number::SingleLayout, number::write_decimal_9>(dst, std::bit_cast<uint32_t>(v));
}

}  // namespace vellum
