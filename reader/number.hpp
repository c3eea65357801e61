// Reading one JSON number token into a JsonValue.
//
// Integers that fit 64 bits stay exact (tag 4 unsigned, tag 12 negative); every
// other number becomes the binary64 nearest to its decimal value, ties to even
// (tag 20). Conversion runs through tiers of rising cost: one exact floating
// multiplication, a 128-bit product with the wide power table, a 64-bit estimate
// with an error bound, and an exact big-number comparison for the rest.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "reader/number_tables.hpp"
#include "reader/value.hpp"

namespace vellum {

struct NumberFailure {
  const char* message;
  const uint8_t* position;
};

namespace number_detail {

using u128 = unsigned __int128;

inline constexpr uint64_t sign_bit = uint64_t{1} << 63;

// A real after scanning: value = significand * 10^exponent when nothing was cut.
struct RealDigits {
  uint64_t significand;      // the first 19 significant digits, not rounded
  int64_t exponent;
  const uint8_t* cut_begin;  // the first significant digit that did not fit, or null
  const uint8_t* cut_end;    // after the last nonzero cut digit; null when no nonzero digit was cut
};

// Every form the inline path leaves alone, failures included.
const uint8_t* read_number_general(const uint8_t* start, JsonValue& out, NumberFailure& failure);

// All tiers; false (with `failure` filled) when the magnitude is too large.
bool convert_real(const RealDigits& digits, bool negative, const uint8_t* start, JsonValue& out,
                  NumberFailure& failure);

inline void set_real(JsonValue& out, uint64_t magnitude_bits, bool negative) {
  out.tag = tag::Real;
  out.f64 = std::bit_cast<double>(magnitude_bits | (negative ? sign_bit : 0));
}

// s * 10^e for s >= 1, e in [-306, 287], exact s; false when too close to a
// rounding boundary to decide from 128 bits.
inline bool wide_tier(uint64_t s, int64_t e, uint64_t& bits) {
  const int z = std::countl_zero(s);
  const uint64_t n = s << z;
  const WidePower& w = wide_powers[static_cast<size_t>(e - wide_power_min)];
  const u128 first = static_cast<u128>(n) * w.hi;
  uint64_t hi = static_cast<uint64_t>(first >> 64);
  uint64_t lo = static_cast<uint64_t>(first);
  // The product of the upper word alone is below the truth by less than one unit
  // of hi; it decides unless the bits under the rounding bit are all 0 or all 1.
  if ((hi & 0x1FF) == 0x1FF || (hi & 0x1FF) == 0) {
    const uint64_t add = static_cast<uint64_t>((static_cast<u128>(n) * w.lo) >> 64);
    lo += add;
    hi += lo < add;
    // Now below the truth by less than two units of lo: a 0 or all-ones lo may
    // hide a carry or an exact tie.
    if (lo == 0 || lo == ~uint64_t{0}) return false;
  }
  const int t = static_cast<int>(~hi >> 63);
  hi <<= t;
  const uint64_t h = hi + (hi & 1024);
  const bool carry = h < hi;
  const uint64_t mantissa = carry ? 0 : (h >> 11) & ((uint64_t{1} << 52) - 1);
  const int64_t biased = floor_log2_pow10(e) - 63 - z - t + 1150 + carry;
  bits = (static_cast<uint64_t>(biased) << 52) | mantissa;
  return true;
}

// The leading digits among the four bytes at p and their value. p is inside the
// token or at the byte after it, so the load ends within the zero tail; bytes
// after the first non-digit do not affect the result.
struct DigitRun {
  unsigned count;  // 0 to 4
  uint32_t value;
};
inline DigitRun read_digits4(const uint8_t* p) {
  uint32_t word;
  std::memcpy(&word, p, 4);
  // A byte below '0' borrows only from the bytes after it, which are not used.
  const uint32_t x = word - 0x30303030u;
  const uint32_t non_digit = (x | (x + 0x06060606u)) & 0xF0F0F0F0u;
  const unsigned count = static_cast<unsigned>(std::countr_zero(non_digit)) >> 3;
  // Move the digits to the top bytes (first digit most significant), zeros below.
  uint32_t y = static_cast<uint32_t>(static_cast<uint64_t>(x) << (32 - 8 * count));
  y = (y * 10 + (y >> 8)) & 0x00FF00FFu;
  y = (y * 100 + (y >> 16)) & 0xFFFFu;
  return {count, y};
}

inline constexpr uint32_t small_powers[5] = {1, 10, 100, 1000, 10000};

// Finishes a real whose digits all fit the significand (s may be 0).
inline const uint8_t* finish_short_real(const uint8_t* end, const uint8_t* start, uint64_t s,
                                        int64_t e, bool negative, JsonValue& out,
                                        NumberFailure& failure) {
  if (s < (uint64_t{1} << 53) && e >= -22 && e <= 22) {
    // Both operands are exact, so the one rounding of the operation is the answer.
    double v = static_cast<double>(static_cast<int64_t>(s));
    v = e < 0 ? v / exact_powers[static_cast<size_t>(-e)] : v * exact_powers[static_cast<size_t>(e)];
    out.tag = tag::Real;
    out.f64 = negative ? -v : v;
    return end;
  }
  uint64_t bits;
  if (e >= -306 && e <= 287 && s != 0 && wide_tier(s, e, bits)) {
    set_real(out, bits, negative);
    return end;
  }
  if (s == 0) {
    set_real(out, 0, negative);
    return end;
  }
  return convert_real({s, e, nullptr, nullptr}, negative, start, out, failure) ? end : nullptr;
}

}  // namespace number_detail

// p points at '-' or a digit inside a copy of the input that ends in 4 zero bytes.
// On success fills `out` (tag word 4, 12 or 20 with zero length bits, and the payload)
// and returns the byte after the number; never looks past it. On failure returns
// nullptr and fills `failure` with the exact message text and position.
//
// Inline part: integers of up to 19 digits and reals with at most 19 digits and an
// exponent of at most 3 digits; everything else goes to the general reader.
inline const uint8_t* read_number(const uint8_t* p, JsonValue& out, NumberFailure& failure) {
  using namespace number_detail;
  const uint8_t* const start = p;
  const bool negative = *p == '-';
  p += negative;
  uint64_t s = static_cast<uint8_t>(*p - '0');
  if (s > 9) return read_number_general(start, out, failure);
  ++p;
  unsigned count = 1;  // digits taken into s, leading zeros included; past 19 s may wrap
  if (s != 0) {
    // Whole runs of four advance by a constant, so the next load need not wait
    // for this one's digit count.
    DigitRun run;
    while ((run = read_digits4(p)).count == 4) {
      s = s * 10000 + run.value;
      p += 4;
      count += 4;
      if (count > 19) return read_number_general(start, out, failure);
    }
    s = s * small_powers[run.count] + run.value;
    p += run.count;
    count += run.count;
    if (count > 19) return read_number_general(start, out, failure);
    if (!is_number_char(*p)) {
      if (!negative) {
        out.tag = tag::Unsigned;
        out.u64 = s;
        return p;
      }
      if (s <= sign_bit) {
        out.tag = tag::Signed;
        out.u64 = 0 - s;
        return p;
      }
      return read_number_general(start, out, failure);
    }
  } else if (!is_number_char(*p)) {
    out.tag = negative ? tag::Signed : tag::Unsigned;
    out.u64 = 0;
    return p;
  } else if (*p != '.') {
    return read_number_general(start, out, failure);
  }
  int64_t e = 0;
  if (*p == '.') {
    ++p;
    if (static_cast<uint8_t>(*p - '0') > 9) return read_number_general(start, out, failure);
    const uint8_t* const fraction = p;
    DigitRun run;
    while ((run = read_digits4(p)).count == 4) {
      s = s * 10000 + run.value;
      p += 4;
      if (p - fraction + count > 19) return read_number_general(start, out, failure);
    }
    s = s * small_powers[run.count] + run.value;
    p += run.count;
    count += static_cast<unsigned>(p - fraction);
    e = fraction - p;
    if (count > 19) return read_number_general(start, out, failure);
  }
  if ((*p | 0x20) == 'e') {
    ++p;
    const bool exponent_negative = *p == '-';
    p += (*p == '-') | (*p == '+');
    const DigitRun run = read_digits4(p);
    // Four or more exponent digits are rare enough for the general reader.
    if (run.count - 1 > 2) return read_number_general(start, out, failure);
    p += run.count;
    e += exponent_negative ? -static_cast<int64_t>(run.value) : static_cast<int64_t>(run.value);
  }
  return finish_short_real(p, start, s, e, negative, out, failure);
}

}  // namespace vellum
