// The reader's byte classes: one 256-entry table, one bit per class, that
// drives every scanning loop.
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

}  // namespace vellum
