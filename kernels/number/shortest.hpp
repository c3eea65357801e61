// Shortest decimal that reads back to a given binary float.
//
// For v = c * 2^q the values that round to v form the interval
// [v - gap_below / 2, v + gap_above / 2] (open when c is odd, since ties go
// to the even significand). With k = floor(q * log10(2)) the interval is 1 to
// 10 units of 10^k wide: it holds at most one multiple of 10^(k+1), which is
// then the shortest candidate, and otherwise the nearest multiple of 10^k to
// v, which is always inside.
//
// Regular values (a normal significand that is not the first of its binade,
// where the gaps on both sides are equal) take one product: v is scaled by
// 10^-(k+1), so that its integer part is the shorter candidate below v and
// the fraction's high word says both whether a shorter candidate lies inside
// (the interval's half-width is the power of ten's significand shifted) and
// which digit comes next. The product is exact to within a few units of
// 2^-64; a comparison that falls within that distance of its threshold
// (exact ties among them) goes to the general search, as do subnormals and
// the first value of each binade.
#pragma once

#include <bit>
#include <cstdint>

#include "kernels/number/pow10_table.hpp"

namespace vellum::number {

__extension__ typedef unsigned __int128 U128;

// value = significand * 10^exponent; significand may end in zeros.
struct Decimal {
  uint64_t significand;
  int exponent;
};

struct DoubleLayout {
  using Bits = uint64_t;
  static constexpr int SignificandBits = 52;
  static constexpr int ExponentMask = 0x7FF;
  static constexpr int ExponentShift = 1075;  // bias plus significand bits
};

struct SingleLayout {
  using Bits = uint32_t;
  static constexpr int SignificandBits = 23;
  static constexpr int ExponentMask = 0xFF;
  static constexpr int ExponentShift = 150;
};

// The general search, for any v = c * 2^q with c > 0; `asymmetric` when c is
// the smallest normal significand of a binade above the first (the gap below
// v is half the gap above). Out of line: only irregular values and the rare
// products too close to a threshold come here.
Decimal shortest_decimal_general(uint64_t c, int q, bool asymmetric);

// The fast search's verdict from the scaled value's integer part n, its
// fraction f and the interval's half-width `half` (both in units of 2^-64),
// each known to within `margin` / 4: n itself or n + 1 when inside (times 10,
// at the finer scale), else the nearest multiple of the finer unit. Returns
// false when a comparison is too close to call. Branch-free: which case
// wins depends on the value's digits.
template <uint64_t Margin>
inline bool settle(uint64_t n, uint64_t f, uint64_t half, uint64_t& out) {
  const U128 tenfold = static_cast<U128>(f) * 10 + (uint64_t{1} << 63);
  const uint64_t rest = static_cast<uint64_t>(tenfold);
  const uint64_t rounded = static_cast<uint64_t>(tenfold >> 64);  // the next digit, rounded
  // Each test is true near its threshold: f against half (n inside?),
  // f + half against 1 (n + 1 inside?), the tenfold fraction against 1/2.
  const uint64_t a = f - half + Margin, b = f + half + Margin, c = rest + Margin;
  const uint64_t nearest_threshold = a < b ? a : b;
  const bool close = (nearest_threshold < c ? nearest_threshold : c) < 2 * Margin;
  const bool below = f < half;
  const bool above = f > ~half;
  const uint64_t shorter = (n + above) * 10;
  const uint64_t nearest = n * 10 + rounded;
  // A mask rather than a conditional, which the compiler would make a
  // branch that random digits keep mispredicting.
  const uint64_t take_shorter = 0 - static_cast<uint64_t>(below | above);
  out = nearest ^ ((shorter ^ nearest) & take_shorter);
  return !close;
}

// Regular double: 2^52 <= c < 2^53, and v is not an integer below 2^53.
inline Decimal shortest_decimal_regular(uint64_t c, int q, DoubleLayout) {
  const int k = floor_log10_pow2(q);
  // c * 2^s * g / 2^138 is v * 10^-(k+1) (below 2^54) with 64 fraction bits.
  const int s = q + floor_log2_pow10(-k - 1) + 11;  // 7..11
  const Pow10Significand& g = rounded_up_pow10(-k - 1);
  const uint64_t cs = c << s;
  // The sum of the two partial products in 64-bit halves: as one 128-bit
  // addition the compiler keeps a zero word on the stack.
  const uint64_t carry = static_cast<uint64_t>((static_cast<U128>(g.lo) * cs) >> 64);
  const U128 high = static_cast<U128>(g.hi) * cs;
  const uint64_t top_lo = static_cast<uint64_t>(high) + carry;
  const uint64_t top_hi = static_cast<uint64_t>(high >> 64) + (top_lo < carry);
  const uint64_t n = top_hi >> 10;
  const uint64_t f = top_hi << 54 | top_lo >> 10;
  // 2^(q-1) * 10^-(k+1) in the same units.
  const uint64_t half = g.hi >> (11 - s);
  uint64_t m;
  if (!settle<64>(n, f, half, m)) [[unlikely]]
    return shortest_decimal_general(c, q, false);
  return {m, k};
}

// Regular single: one 64x64-bit product with the power's leading word
// (rounded up), exact to within 2^26 units of 2^-64.
inline Decimal shortest_decimal_regular(uint64_t c, int q, SingleLayout) {
  const int k = floor_log10_pow2(q);
  const int s = q + floor_log2_pow10(-k - 1) + 33;  // 29..33
  const uint64_t g = rounded_up_pow10(-k - 1).hi + 1;
  const U128 p = static_cast<U128>(g) * (c << s);
  const uint64_t n = static_cast<uint64_t>(p >> 96);
  const uint64_t f = static_cast<uint64_t>(p >> 32);
  const uint64_t half = g >> (33 - s);
  uint64_t m;
  if (!settle<uint64_t{1} << 32>(n, f, half, m)) [[unlikely]]
    return shortest_decimal_general(c, q, false);
  return {m, k};
}

// Shortest decimal of a finite non-zero float given as its bits without sign.
template <class Layout>
inline Decimal shortest_decimal_of(typename Layout::Bits magnitude) {
  constexpr int M = Layout::SignificandBits;
  const uint64_t fraction = magnitude & ((uint64_t{1} << M) - 1);
  const int biased = static_cast<int>(magnitude >> M);
  const uint64_t c = fraction | (uint64_t{1} << M);
  const int q = biased - Layout::ExponentShift;
  // Integers below 2^(M+1): neighbours are at most 1 away, so no shorter
  // text than the integer's own digits reads back to it.
  // (One unsigned comparison for -M <= q <= 0: the sign of q is random.)
  if (static_cast<unsigned>(-q) <= M && (c & ((uint64_t{1} << -q) - 1)) == 0) return {c >> -q, 0};
  if ((biased == 0) | (fraction == 0)) [[unlikely]] {
    if (biased == 0) return shortest_decimal_general(fraction, 1 - Layout::ExponentShift, false);
    return shortest_decimal_general(c, q, biased > 1);
  }
  return shortest_decimal_regular(c, q, Layout{});
}

}  // namespace vellum::number
