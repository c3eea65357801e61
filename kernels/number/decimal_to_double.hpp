// The binary64 nearest to a decimal number, ties to even, through tiers of
// rising cost: an exact operation, one 128-bit product, a 64-bit estimate,
// and big integers for what lies too close to a rounding boundary. The
// decimal parser's core; the grammar (which bytes form a number) is the
// reader's.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "kernels/number/pow10_table.hpp"

namespace vellum::number {

// A decimal as read: value = significand * 10^exponent when no digit was
// cut; otherwise the significand holds the first 19 significant digits, not
// rounded, and the digits from `cut_begin` to `cut_end` follow them (a
// decimal point among them is skipped).
struct DecimalDigits {
  uint64_t significand;
  int64_t exponent;
  const uint8_t* cut_begin;  // the first significant digit that did not fit, or null
  const uint8_t* cut_end;    // after the last nonzero cut digit; null when no nonzero digit was cut
};

// The magnitude bits of +infinity: no finite result reaches them.
inline constexpr uint64_t InfinityBits = uint64_t{0x7FF} << 52;

// s * 10^e for s < 2^53 and |e| <= 22: both operands are exact, so the one
// rounding of the operation is the answer.
[[gnu::always_inline]] inline double exact_product(uint64_t s, int64_t e) {
  const double v = static_cast<double>(static_cast<int64_t>(s));
  return e < 0 ? v / ExactPowers[static_cast<size_t>(-e)] : v * ExactPowers[static_cast<size_t>(e)];
}

// The magnitude bits of s * 10^e for s >= 1, e in [-306, 287], exact s;
// false when too close to a rounding boundary to decide from 128 bits.
[[gnu::always_inline]] inline bool wide_product(uint64_t s, int64_t e, uint64_t& bits) {
  using u128 = unsigned __int128;
  const int z = std::countl_zero(s);
  const uint64_t n = s << z;
  const Pow10Significand& w = truncated_pow10(static_cast<int>(e));
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
  const int64_t biased = floor_log2_pow10(static_cast<int>(e)) - 63 - z - t + 1150 + carry;
  bits = (static_cast<uint64_t>(biased) << 52) | mantissa;
  return true;
}

// The magnitude bits of the binary64 nearest to the decimal (significand
// >= 1), every tier; InfinityBits when its magnitude rounds to infinity.
uint64_t decimal_to_double(const DecimalDigits& digits);

}  // namespace vellum::number
