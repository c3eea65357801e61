// Constant tables of the number reader: byte classes, powers of ten.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

namespace vellum {

// Byte classes of the number grammar, one bit each.
namespace digit_class {
inline constexpr uint8_t Zero = 1 << 0;
inline constexpr uint8_t Nonzero = 1 << 1;
inline constexpr uint8_t Plus = 1 << 2;
inline constexpr uint8_t Minus = 1 << 3;
inline constexpr uint8_t Dot = 1 << 4;
inline constexpr uint8_t Exponent = 1 << 5;
inline constexpr uint8_t Digit = Zero | Nonzero;
// A byte that would continue a number: a digit, a dot or an exponent letter.
inline constexpr uint8_t NumberChar = Digit | Dot | Exponent;
}  // namespace digit_class

inline constexpr std::array<uint8_t, 256> DigitClassTable = [] {
  std::array<uint8_t, 256> table{};
  table['0'] = digit_class::Zero;
  for (unsigned c = '1'; c <= '9'; ++c) table[c] = digit_class::Nonzero;
  table['+'] = digit_class::Plus;
  table['-'] = digit_class::Minus;
  table['.'] = digit_class::Dot;
  table['e'] = digit_class::Exponent;
  table['E'] = digit_class::Exponent;
  return table;
}();

constexpr bool is_number_char(uint8_t c) {
  return (DigitClassTable[c] & digit_class::NumberChar) != 0;
}

// 10^0 .. 10^22: every one is exact in binary64.
inline constexpr std::array<double, 23> ExactPowers = [] {
  std::array<double, 23> table{};
  double v = 1.0;
  for (double& entry : table) {
    entry = v;
    v *= 10.0;
  }
  return table;
}();

// 10^0 .. 10^19 as 64-bit integers.
inline constexpr std::array<uint64_t, 20> IntegerPowers = [] {
  std::array<uint64_t, 20> table{};
  uint64_t v = 1;
  for (uint64_t& entry : table) {
    entry = v;
    v *= 10;
  }
  return table;
}();

// The upper 128 bits of 10^e, scaled so that bit 127 is set, truncated.
struct WidePower {
  uint64_t hi;
  uint64_t lo;
};
inline constexpr int WidePowerMin = -343;
inline constexpr int WidePowerMax = 324;
inline constexpr int WidePowerCount = WidePowerMax - WidePowerMin + 1;
// Generated at compile time in number_tables.cpp; entry e sits at index e - WidePowerMin.
extern const std::array<WidePower, WidePowerCount> WidePowers;

// floor(e * log2(10)) for |e| within the table's range (checked where the table is built).
constexpr int64_t floor_log2_pow10(int64_t e) { return (e * 217706) >> 16; }

}  // namespace vellum
