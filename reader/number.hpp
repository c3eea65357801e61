// Reading one JSON number token into a JsonValue.
//
// Integers that fit 64 bits stay exact (tag 4 unsigned, tag 12 negative); every
// other number becomes the binary64 nearest to its decimal value, ties to even
// (tag 20). Digits are taken eight at a time from one load; the conversion of
// reals is the number kernel's (kernels/number/decimal_to_double.hpp).
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "kernels/number/pow10_table.hpp"
#include "reader/char_class.hpp"
#include "reader/value.hpp"

namespace vellum {

// How far past the token's first byte the number reader may load: words of
// eight digits are taken while at most 19 digits are read (after a sign and
// a point), and four bytes of an exponent after them, so no load ends past
// the 29th byte. Longer forms go to the byte-wise general reader, which
// reads nothing past the byte after the token.
inline constexpr size_t NumberReach = 32;

namespace number_detail {

inline constexpr uint64_t SignBit = uint64_t{1} << 63;

// Every form the inline path leaves alone, failures included.
const uint8_t* read_number_general(const uint8_t* start, JsonValue& out, const ReaderInput& input);

// Eight bytes at p minus '0' each, the first in the lowest byte. Loads start
// at most at the zero byte that ends the text, so no load ends more than
// eight bytes past it (NumberReach). A byte below
// '0' borrows only from the bytes after it, which are never used.
inline uint64_t digit_lanes(const uint8_t* p) {
  uint64_t word;
  std::memcpy(&word, p, 8);
  return word - 0x3030303030303030u;
}

// The number of leading digits (0 to 8) among the lanes.
inline unsigned digit_count(uint64_t lanes) {
  const uint64_t non_digit = (lanes | (lanes + 0x0606060606060606u)) & 0xF0F0F0F0F0F0F0F0u;
  // The first non-digit's flag lies in bits 4 to 7 of its byte, moved down to
  // bits 0 to 3; the marker in bit 63 stands for eight digits and keeps the
  // count free of a zero test.
  const uint64_t marked = (non_digit >> 4) | (uint64_t{1} << 63);
  return (static_cast<unsigned>(std::countr_zero(marked)) + 4) >> 3;
}

// The first multiplier of the combining steps below, shifted so that it also
// moves the first `count` lanes to the top and drops the rest: entry n is
// 2561 * 2^(64 - 8n) modulo 2^64 (0 for n = 0).
inline constexpr std::array<uint64_t, 9> PairMultipliers = [] {
  std::array<uint64_t, 9> table{};
  for (unsigned n = 1; n <= 8; ++n) table[n] = uint64_t{10 * 256 + 1} << (64 - 8 * n);
  return table;
}();

// The value of the first `count` digit lanes (0 to 8), the first digit most
// significant: pairs, then quads, then all eight, one multiplication each.
inline uint64_t leading_digits(uint64_t lanes, unsigned count) {
  lanes = ((lanes * PairMultipliers[count]) >> 8) & 0x00FF00FF00FF00FFu;
  lanes = ((lanes * (100 * 65536 + 1)) >> 16) & 0x0000FFFF0000FFFFu;
  return (lanes * (10000 * (uint64_t{1} << 32) + 1)) >> 32;
}

// Appends the digits at p to s and count; returns the byte after them, or null
// when they make count pass 19. Whole runs of eight advance by a constant, so
// the next load need not wait for this one's count.
[[gnu::always_inline]] inline const uint8_t* append_digits(const uint8_t* p, uint64_t& s,
                                                           unsigned& count) {
  uint64_t lanes;
  unsigned n;
  while ((n = digit_count(lanes = digit_lanes(p))) == 8) {
    s = s * 100000000 + leading_digits(lanes, 8);
    p += 8;
    count += 8;
    if (count > 19) return nullptr;
  }
  s = s * number::IntegerPowers[n] + leading_digits(lanes, n);
  count += n;
  return count > 19 ? nullptr : p + n;
}

// After the integer digits (s, `count` of them, the first nonzero or s = 0):
// the fraction and exponent of a real, or the general reader for everything
// longer or malformed. p is at '.', 'e' or 'E'.
const uint8_t* read_real_tail(const uint8_t* start, const uint8_t* p, uint64_t s, unsigned count,
                              bool negative, JsonValue& out, const ReaderInput& input);

}  // namespace number_detail

// p points at '-' or a digit of `input`'s text, at least NumberReach bytes
// before its limit. On success fills `out` (tag word 4, 12 or 20 and the
// payload) and returns the byte after the number, which the caller judges. On
// failure returns nullptr and records the message and position in `input`'s
// failure record.
//
// Inline part: integers of up to 19 digits. Reals go out of line, and the general
// reader takes every longer or malformed form.
[[gnu::always_inline]] inline const uint8_t* read_number(const uint8_t* start, JsonValue& out,
                                                         const ReaderInput& input) {
  using namespace number_detail;
  uint64_t word;
  std::memcpy(&word, start, 8);
  // One load serves the sign and the first digits: after a '-' the lanes hold
  // seven bytes and a zero, which stops the digits.
  const bool negative = static_cast<uint8_t>(word) == '-';
  const uint64_t lanes = (negative ? word >> 8 : word) - 0x3030303030303030u;
  unsigned count = digit_count(lanes);
  const uint8_t* p = start + negative;
  if ((lanes & 0xFF) == 0 || count == 0) [[unlikely]] {
    if (count == 1 && !is_number_char(p[1])) {
      out.tag = negative ? tag::Signed : tag::Unsigned;
      out.u64 = 0;
      return p + 1;
    }
    if (count == 1 && p[1] == '.') return read_real_tail(start, p + 1, 0, 1, negative, out, input);
    return read_number_general(start, out, input);
  }
  uint64_t s = leading_digits(lanes, count);
  p += count;
  if (count + negative == 8) [[unlikely]] {  // the whole load was digits: more may follow
    p = append_digits(p, s, count);
    if (p == nullptr) return read_number_general(start, out, input);
  }
  if (is_number_char(*p)) [[unlikely]]
    return read_real_tail(start, p, s, count, negative, out, input);
  if (!negative) {
    out.tag = tag::Unsigned;
    out.u64 = s;
    return p;
  }
  if (s <= SignBit) {
    out.tag = tag::Signed;
    out.u64 = 0 - s;
    return p;
  }
  return read_number_general(start, out, input);
}

}  // namespace vellum
