// The reader's byte classes: one 256-entry table, one bit per class, that
// drives every scanning loop, and the classes of the number grammar.
#pragma once

#include <array>
#include <cstdint>

namespace vellum {

namespace char_class {
inline constexpr uint8_t Whitespace = 1 << 0;      // space, tab, line feed, carriage return
inline constexpr uint8_t NumberStart = 1 << 1;     // '-' and '0'..'9'
inline constexpr uint8_t ContainerOpen = 1 << 2;   // '[' and '{'
inline constexpr uint8_t StringStop = 1 << 3;      // 0x00..0x1F, '"', '\\'
inline constexpr uint8_t NonAscii = 1 << 4;        // 0x80..0xFF
inline constexpr uint8_t HexDigit = 1 << 5;        // '0'..'9', 'A'..'F', 'a'..'f'
}  // namespace char_class

constexpr uint8_t classify_byte(unsigned c) {
  uint8_t bits = 0;
  if (c == ' ' || c == '\t' || c == '\n' || c == '\r') bits |= char_class::Whitespace;
  if (c == '-' || (c >= '0' && c <= '9')) bits |= char_class::NumberStart;
  if (c == '[' || c == '{') bits |= char_class::ContainerOpen;
  if (c < 0x20 || c == '"' || c == '\\') bits |= char_class::StringStop;
  if (c >= 0x80) bits |= char_class::NonAscii;
  if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))
    bits |= char_class::HexDigit;
  return bits;
}

inline constexpr std::array<uint8_t, 256> CharClassTable = [] {
  std::array<uint8_t, 256> table{};
  for (unsigned c = 0; c < 256; ++c) table[c] = classify_byte(c);
  return table;
}();

constexpr bool has_class(uint8_t c, uint8_t classes) {
  return (CharClassTable[c] & classes) != 0;
}

static_assert(has_class(' ', char_class::Whitespace) && !has_class(0, char_class::Whitespace));
static_assert(has_class(0, char_class::StringStop) && !has_class(0x7F, char_class::StringStop));

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

constexpr bool is_number_char(uint8_t c) { return (DigitClassTable[c] & digit_class::NumberChar) != 0; }

}  // namespace vellum
