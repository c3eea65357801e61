// The general shortest-decimal search: subnormals, the first value of each
// binade, and the values whose fast product lands too close to a threshold.
//
// The scaled value and bounds are computed with two fractional bits, from a
// 128-bit significand of 10^-k that is rounded up, and the bits dropped
// below are folded into the last bit (rounding to odd): an exact result
// stays a multiple of 4 and an inexact one is odd, which keeps every
// comparison against a candidate (a multiple of 4) exact.
#include "kernels/number/shortest.hpp"

namespace vellum::number {
namespace {

// floor(g * cp / 2^128), with the last bit set when the dropped part is not
// zero. g exceeds the exact scale factor by less than 2^-127 of it and
// cp < 2^60, so an exact product leaves a zero remainder here.
inline uint64_t round_to_odd(const Pow10Significand& g, uint64_t cp) {
  const U128 low = static_cast<U128>(g.lo) * cp;
  const U128 mid = static_cast<U128>(g.hi) * cp + static_cast<uint64_t>(low >> 64);
  return static_cast<uint64_t>(mid >> 64) | (static_cast<uint64_t>(mid) != 0 ? 1 : 0);
}

}  // namespace

Decimal shortest_decimal_general(uint64_t c, int q, bool asymmetric) {
  // Scaled by 10^-k, the interval is between 1 and 10 units wide.
  const int k = asymmetric ? floor_log10_three_quarters_pow2(q) : floor_log10_pow2(q);
  // Shift that lines the product up to two fractional bits: 1 <= h <= 4.
  const int h = q + floor_log2_pow10(-k) + 1;
  const Pow10Significand& g = rounded_up_pow10(-k);

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

  const uint64_t s = vb >> 2;
  const uint64_t t = s + 1;
  // A multiple of ten inside is the one shorter candidate. Below 10 the only
  // one would be 10, no shorter than the digit next to it.
  const uint64_t down = s / 10 * 10;
  const uint64_t up = down + 10;
  const bool down_in = vbl <= down << 2;
  const bool up_in = up << 2 <= vbr;
  if ((s >= 10) & (down_in != up_in)) return {down_in ? down : up, k};
  // Otherwise s or t: the one inside, or the nearer when both are, the even
  // one on a tie. vb - 4s - 2 compares v with the midpoint s + 1/2.
  const bool s_in = vbl <= s << 2;
  const bool t_in = t << 2 <= vbr;
  if (s_in != t_in) return {s_in ? s : t, k};
  const int64_t cmp = static_cast<int64_t>(vb - ((s + t) << 1));
  return {(cmp < 0) | ((cmp == 0) & ((s & 1) == 0)) ? s : t, k};
}

}  // namespace vellum::number
