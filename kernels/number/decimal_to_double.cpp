#include "kernels/number/decimal_to_double.hpp"

#include "kernels/number/bigint.hpp"

namespace vellum::number {
namespace {

using u128 = unsigned __int128;

constexpr uint64_t MantissaMask = (uint64_t{1} << 52) - 1;
// Significant digits kept beyond the significand for the exact comparison; enough
// because a midpoint between two binary64 values has at most 768 significant digits.
constexpr unsigned MaxCutDigits = 750;

enum class Estimate { Decided, Undecided, Overflow };

// s * 10^e from a 64-bit product, for s >= 1 and e in [-343, 308]. `cut` says s
// stands for longer digits (and was rounded by its first cut digit). Sets the
// result bits when Decided, or the candidate rounded down when Undecided.
Estimate estimate(uint64_t s, int64_t e, bool cut, uint64_t& bits) {
  const int z = std::countl_zero(s);
  const uint64_t n = s << z;
  const Pow10Significand& w = truncated_pow10(static_cast<int>(e));
  // 10^e = p64 * 2^(f - 63), within half a unit of p64 (the table guarantees no overflow).
  const uint64_t p64 = w.hi + (w.lo >> 63);
  const u128 product = static_cast<u128>(n) * p64;
  // p64 <= 2^64 - 2, so the product's upper word is at most 2^64 - 3 and rounding
  // it cannot overflow.
  uint64_t x = static_cast<uint64_t>(product >> 64) + (static_cast<uint64_t>(product) >> 63);
  // value ~ x * 2^e0
  int64_t e0 = floor_log2_pow10(static_cast<int>(e)) + 1 - z;
  // Error of x in eighths of its last bit: under 1/2 from p64, 1/2 from rounding
  // the product, and when digits were cut, under 2^(z-1) from s itself.
  uint64_t bound = 9 + (cut ? uint64_t{4} << z : 0);
  if ((x >> 63) == 0) {
    x <<= 1;
    e0 -= 1;
    bound *= 2;
  }
  const int64_t top = e0 + 63;  // binary exponent of x's leading bit
  if (top >= 1024) return Estimate::Overflow;
  // Bits below the result's last place: 11 for normal results, more for subnormal.
  const int64_t k = top >= -1022 ? 11 : -1011 - top;
  if (k >= 66) {  // below a quarter of the smallest subnormal
    bits = 0;
    return Estimate::Decided;
  }
  const u128 rest = static_cast<u128>(x) & ((static_cast<u128>(1) << k) - 1);
  const u128 half = static_cast<u128>(1) << (k - 1);
  const uint64_t m = k >= 64 ? 0 : x >> k;
  // For normal results m carries the implicit bit, which lands in the exponent field.
  const uint64_t base = k == 11 ? static_cast<uint64_t>(top + 1022) << 52 : 0;
  bits = base + m;
  if (rest >= half) {
    if ((rest - half) * 8 < bound) return Estimate::Undecided;
    bits += 1;
    return bits >= InfinityBits ? Estimate::Overflow : Estimate::Decided;
  }
  return (half - rest) * 8 < bound ? Estimate::Undecided : Estimate::Decided;
}

// Whether the exact value lies above the midpoint between b and the next binary64
// (or on it with b's mantissa odd), by comparing big integers.
bool above_midpoint(uint64_t b, const DecimalDigits& r) {
  const uint64_t field = b >> 52;
  const uint64_t m = field == 0 ? b & MantissaMask : (b & MantissaMask) | (uint64_t{1} << 52);
  const int64_t q = field == 0 ? -1074 : static_cast<int64_t>(field) - 1075;

  BigNumber digits;    // D: the significant digits as an integer
  BigNumber midpoint;  // H = 2m + 1, the midpoint as H * 2^(q-1)
  digits.assign(r.significand);
  int64_t e = r.exponent;
  bool ok = true;
  if (r.cut_end != nullptr) {
    uint64_t chunk = 0;
    unsigned chunk_len = 0;
    unsigned taken = 0;
    for (const uint8_t* p = r.cut_begin; p != r.cut_end; ++p) {
      if (*p == '.') continue;
      ++taken;
      // The last digit kept stands for itself and everything after it: all that
      // matters is that the rest is nonzero.
      const uint64_t d = taken == MaxCutDigits ? 1 : static_cast<uint64_t>(*p - '0');
      chunk = chunk * 10 + d;
      if (++chunk_len == 19) {
        ok &= digits.mul_add(IntegerPowers[19], chunk);
        chunk = 0;
        chunk_len = 0;
      }
      if (taken == MaxCutDigits) break;
    }
    if (chunk_len != 0) ok &= digits.mul_add(IntegerPowers[chunk_len], chunk);
    e -= taken;
  }
  midpoint.assign(2 * m + 1);
  ok &= e >= 0 ? digits.mul_pow10(static_cast<uint64_t>(e)) : midpoint.mul_pow10(static_cast<uint64_t>(-e));
  ok &= q - 1 < 0 ? digits.shift_left(static_cast<uint64_t>(1 - q)) : midpoint.shift_left(static_cast<uint64_t>(q - 1));
  // The operands stay below 3700 bits; should that ever fail, keep the candidate.
  if (!ok) return false;
  const int c = compare(digits, midpoint);
  return c > 0 || (c == 0 && (m & 1) != 0);
}

}  // namespace

uint64_t decimal_to_double(const DecimalDigits& r) {
  const int64_t e = r.exponent;
  const bool cut = r.cut_end != nullptr;
  if (e < TruncatedPow10Min) return 0;  // below 10^19 * 10^-344: under half the smallest subnormal
  if (e > 308) return InfinityBits;
  uint64_t s = r.significand;
  if (!cut) {
    if (s < (uint64_t{1} << 53) && e >= -22 && e <= 22) return std::bit_cast<uint64_t>(exact_product(s, e));
    uint64_t bits;
    if (e >= -306 && e <= 287 && wide_product(s, e, bits)) return bits;
  } else if (*r.cut_begin >= '5') {
    s += 1;  // at most 10^19, still 64 bits
  }
  uint64_t bits;
  switch (estimate(s, e, cut, bits)) {
    case Estimate::Decided:
      return bits;
    case Estimate::Overflow:
      return InfinityBits;
    case Estimate::Undecided:
      break;
  }
  if (above_midpoint(bits, r)) bits += 1;  // InfinityBits when it rounds up past the largest finite
  return bits;
}

}  // namespace vellum::number
