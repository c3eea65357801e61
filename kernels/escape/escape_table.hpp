// Tables shared by every form of the string escaper.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vellum {

// One 8-byte word per byte value 0x00..0x5F: the escape text, padded, with its
// length in the last byte. Writing an escape is one 8-byte store followed by
// advancing by that length; the padding is overwritten by whatever follows.
using EscapeEntry = std::array<uint8_t, 8>;

constexpr bool needs_escape(uint8_t b) { return b < 0x20 || b == '"' || b == '\\'; }

namespace detail {

constexpr EscapeEntry short_escape(char c) {
  return EscapeEntry{'\\', static_cast<uint8_t>(c), '0', '0', '0', '0', '0', 2};
}

constexpr std::array<EscapeEntry, 96> make_escape_table() {
  constexpr char Hex[] = "0123456789abcdef";
  std::array<EscapeEntry, 96> table{};
  for (unsigned b = 0; b < 0x20; ++b)
    table[b] = EscapeEntry{'\\', 'u', '0', '0', static_cast<uint8_t>(Hex[b >> 4]),
                           static_cast<uint8_t>(Hex[b & 15]), 0, 6};
  table['\b'] = short_escape('b');
  table['\t'] = short_escape('t');
  table['\n'] = short_escape('n');
  table['\f'] = short_escape('f');
  table['\r'] = short_escape('r');
  table['"'] = short_escape('"');
  table['\\'] = short_escape('\\');
  return table;
}

constexpr std::array<uint8_t, 256> make_needs_escape_table() {
  std::array<uint8_t, 256> table{};
  for (unsigned b = 0; b < 256; ++b) table[b] = needs_escape(static_cast<uint8_t>(b)) ? 1 : 0;
  return table;
}

}  // namespace detail

alignas(64) inline constexpr std::array<EscapeEntry, 96> EscapeTable = detail::make_escape_table();
alignas(64) inline constexpr std::array<uint8_t, 256> NeedsEscapeTable = detail::make_needs_escape_table();

// Stores the escape of b (which must need escaping) as one 8-byte word and
// returns the position after its text.
inline uint8_t* write_escape(uint8_t* out, uint8_t b) {
  std::memcpy(out, EscapeTable[b].data(), 8);
  return out + EscapeTable[b][7];
}

}  // namespace vellum
