// Shortest decimal that reads back to a given binary float.
//
// For v = c * 2^q the values that round to v form the interval
// [v - gap_below / 2, v + gap_above / 2] (open when c is odd, since ties go
// to the even significand). Scaling by 10^-k, with k chosen so that the
// interval is between 1 and 10 units wide, leaves at most one multiple of
// 10 inside it (the unique shorter candidate) and otherwise at least one
// integer, of which floor(v * 10^-k) or the next is the nearest to v.
//
// The scaled value and bounds are computed with two fractional bits, from a
// 128-bit significand of 10^-k that is rounded up, and the bits dropped
// below are folded into the last bit (rounding to odd): an exact result
// stays a multiple of 4 and an inexact one is odd, which keeps every
// comparison against a candidate (a multiple of 4) exact.
#pragma once

#include <bit>
#include <cstdint>

#include "kernels/number/pow10_table.hpp"

namespace vellum::number {

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

// floor(g * cp / 2^128), with the last bit set when the dropped part is not
// zero. g exceeds the exact scale factor by less than 2^-127 of it and
// cp < 2^60, so an exact product leaves a zero remainder here.
inline uint64_t round_to_odd(const Pow10Significand& g, uint64_t cp) {
  __extension__ typedef unsigned __int128 u128;
  const u128 low = static_cast<u128>(g.lo) * cp;
  const u128 mid = static_cast<u128>(g.hi) * cp + static_cast<uint64_t>(low >> 64);
  return static_cast<uint64_t>(mid >> 64) | (static_cast<uint64_t>(mid) != 0 ? 1 : 0);
}

// a when cond, else b, without a branch.
inline uint64_t select(bool cond, uint64_t a, uint64_t b) { return b ^ ((a ^ b) & (0 - static_cast<uint64_t>(cond))); }

// v = c * 2^q with c > 0; `asymmetric` when c is the smallest normal
// significand of a binade above the first (the gap below v is half the gap
// above).
inline Decimal shortest_decimal(uint64_t c, int q, bool asymmetric) {
  const int k = asymmetric ? floor_log10_three_quarters_pow2(q) : floor_log10_pow2(q);
  // Shift that lines the product up to two fractional bits: 1 <= h <= 4.
  const int h = q + floor_log2_pow10(-k) + 1;
  const Pow10Significand& g = pow10_significands[-k - Pow10Min];

  // Bounds in units of 2^(q-2).
  const uint64_t cb = c << 2;
  const uint64_t cbl = cb - (asymmetric ? 1 : 2);
  const uint64_t cbr = cb + 2;
  const uint64_t vb = round_to_odd(g, cb << h);
  // An open interval excludes its bounds: shrink them by one quarter unit,
  // which never crosses a candidate but turns "<=" into "<".
  const uint64_t open = c & 1;
  const uint64_t vbl = round_to_odd(g, cbl << h) + open;
  const uint64_t vbr = round_to_odd(g, cbr << h) - open;

  // Which candidate wins depends on the value's digits, so it is chosen
  // with masks rather than branches that random input would mispredict.
  const uint64_t s = vb >> 2;
  const uint64_t t = s + 1;
  // Both inside: the nearer one, the even one on a tie. vb - 4s - 2 compares
  // v with the midpoint s + 1/2.
  const int64_t cmp = static_cast<int64_t>(vb - ((s + t) << 1));
  const bool nearer_s = (cmp < 0) | ((cmp == 0) & ((s & 1) == 0));
  uint64_t result = select(nearer_s, s, t);
  const bool s_in = vbl <= s << 2;
  const bool t_in = t << 2 <= vbr;
  result = select(s_in != t_in, select(s_in, s, t), result);
  // A multiple of ten inside is the one shorter candidate. Below 10 the only
  // one would be 10, no shorter than the digit next to it.
  const uint64_t down = s / 10 * 10;
  const uint64_t up = down + 10;
  const bool down_in = vbl <= down << 2;
  const bool up_in = up << 2 <= vbr;
  result = select((s >= 10) & (down_in != up_in), select(down_in, down, up), result);
  return {result, k};
}

// Shortest decimal of a finite non-zero float given as its bits without sign.
template <class Layout>
inline Decimal shortest_decimal_of(typename Layout::Bits magnitude) {
  constexpr int M = Layout::SignificandBits;
  const uint64_t fraction = magnitude & ((uint64_t{1} << M) - 1);
  const int biased = static_cast<int>(magnitude >> M);
  if (biased == 0) return shortest_decimal(fraction, 1 - Layout::ExponentShift, false);
  const uint64_t c = fraction | (uint64_t{1} << M);
  const int q = biased - Layout::ExponentShift;
  // Integers below 2^(M+1): neighbours are at most 1 away, so no shorter
  // text than the integer's own digits reads back to it.
  // (One unsigned comparison for -M <= q <= 0: the sign of q is random.)
  if (static_cast<unsigned>(-q) <= M && (c & ((uint64_t{1} << -q) - 1)) == 0) return {c >> -q, 0};
  return shortest_decimal(c, q, fraction == 0 && biased > 1);
}

}  // namespace vellum::number
