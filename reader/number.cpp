#include "reader/number.hpp"

#include "reader/number_bigint.hpp"

namespace vellum::number_detail {

using u128 = unsigned __int128;

namespace {

// A real after scanning: value = significand * 10^exponent when nothing was cut.
struct RealDigits {
  uint64_t significand;      // the first 19 significant digits, not rounded
  int64_t exponent;
  const uint8_t* cut_begin;  // the first significant digit that did not fit, or null
  const uint8_t* cut_end;    // after the last nonzero cut digit; null when no nonzero digit was cut
};

// All tiers; false (with the failure recorded) when the magnitude is too large.
bool convert_real(const RealDigits& digits, bool negative, const uint8_t* start, JsonValue& out,
                  const ReaderInput& copy);

inline void set_real(JsonValue& out, uint64_t magnitude_bits, bool negative) {
  out.tag = tag::Real;
  out.f64 = std::bit_cast<double>(magnitude_bits | (negative ? SignBit : 0));
}

// s * 10^e for s >= 1, e in [-306, 287], exact s; false when too close to a
// rounding boundary to decide from 128 bits.
[[gnu::always_inline]] inline bool wide_tier(uint64_t s, int64_t e, uint64_t& bits) {
  const int z = std::countl_zero(s);
  const uint64_t n = s << z;
  const WidePower& w = WidePowers[static_cast<size_t>(e - WidePowerMin)];
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

// The leading digits among the four bytes at p and their value; bytes after
// the first non-digit do not affect the result.
struct DigitRun {
  unsigned count;  // 0 to 4
  uint32_t value;
};
DigitRun read_digits4(const uint8_t* p) {
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

// The cases the wide tier leaves; out of line to keep the common path short.
[[gnu::noinline]] const uint8_t* finish_rare_real(const uint8_t* end, const uint8_t* start,
                                                  uint64_t s, int64_t e, bool negative,
                                                  JsonValue& out, const ReaderInput& copy) {
  if (s == 0) {
    set_real(out, 0, negative);
    return end;
  }
  return convert_real({s, e, nullptr, nullptr}, negative, start, out, copy) ? end : nullptr;
}

// Finishes a real whose digits all fit the significand (s may be 0). `count`
// digits (leading zeros included) made s. The exact tier is chosen by the count
// rather than by s: the count is known much earlier, so the branch settles
// sooner, and 16 or more digits take the wide tier, which handles them as well.
[[gnu::always_inline]] inline const uint8_t* finish_short_real(const uint8_t* end,
                                                                const uint8_t* start, uint64_t s,
                                                                int64_t e, unsigned count,
                                                                bool negative, JsonValue& out,
                                                                const ReaderInput& copy) {
  if (count <= 15 && e >= -22 && e <= 22) {  // s < 10^15 < 2^53
    // Both operands are exact, so the one rounding of the operation is the answer.
    double v = static_cast<double>(static_cast<int64_t>(s));
    v = e < 0 ? v / ExactPowers[static_cast<size_t>(-e)] : v * ExactPowers[static_cast<size_t>(e)];
    out.tag = tag::Real;
    out.f64 = negative ? -v : v;
    return end;
  }
  uint64_t bits;
  if (e >= -306 && e <= 287 && s != 0 && wide_tier(s, e, bits)) {
    set_real(out, bits, negative);
    return end;
  }
  return finish_rare_real(end, start, s, e, negative, out, copy);
}

}  // namespace

const uint8_t* read_real_tail(const uint8_t* start, const uint8_t* p, uint64_t s, unsigned count,
                              bool negative, JsonValue& out, const ReaderInput& copy) {
  int64_t e = 0;
  if (*p == '.') {
    ++p;
    const uint8_t* const fraction = p;
    p = append_digits(p, s, count);
    if (p == nullptr || p == fraction) return read_number_general(start, out, copy);
    e = fraction - p;
  }
  if ((*p | 0x20) == 'e') {
    ++p;
    const bool exponent_negative = *p == '-';
    p += (*p == '-') | (*p == '+');
    const DigitRun run = read_digits4(p);
    // Four or more exponent digits are rare enough for the general reader.
    if (run.count - 1 > 2) return read_number_general(start, out, copy);
    p += run.count;
    e += exponent_negative ? -static_cast<int64_t>(run.value) : static_cast<int64_t>(run.value);
  }
  return finish_short_real(p, start, s, e, count, negative, out, copy);
}

namespace {

constexpr const char* NoDigitAfterMinus = "no digit after minus sign";
constexpr const char* LeadingZero = "number with leading zero is not allowed";
constexpr const char* NoDigitAfterPoint = "no digit after decimal point";
constexpr const char* NoDigitAfterExponent = "no digit after exponent sign";
constexpr const char* Infinity = "number is infinity when parsed as double";

constexpr uint64_t InfinityBits = uint64_t{0x7FF} << 52;
constexpr uint64_t MantissaMask = (uint64_t{1} << 52) - 1;
// Significant digits kept beyond the significand for the exact comparison; enough
// because a midpoint between two binary64 values has at most 768 significant digits.
constexpr unsigned MaxCutDigits = 750;

constexpr bool is_digit(uint8_t c) { return (DigitClassTable[c] & digit_class::Digit) != 0; }

const uint8_t* fail(const ReaderInput& copy, const char* message, const uint8_t* position) {
  copy.fail(ReadErrorCode::InvalidNumber, message, position);
  return nullptr;
}

// After "0" or "0.000": an optional exponent whose value cannot matter.
const uint8_t* read_zero(const uint8_t* p, bool negative, JsonValue& out, const ReaderInput& copy) {
  if ((*p | 0x20) == 'e') {
    ++p;
    p += (*p == '-') | (*p == '+');
    if (!is_digit(*p)) return fail(copy, NoDigitAfterExponent, p);
    while (is_digit(*p)) ++p;
  }
  set_real(out, 0, negative);
  return p;
}

enum class Estimate { Decided, Undecided, Overflow };

// s * 10^e from a 64-bit product, for s >= 1 and e in [-343, 308]. `cut` says s
// stands for longer digits (and was rounded by its first cut digit). Sets the
// result bits when Decided, or the candidate rounded down when Undecided.
Estimate estimate_tier(uint64_t s, int64_t e, bool cut, uint64_t& bits) {
  const int z = std::countl_zero(s);
  const uint64_t n = s << z;
  const WidePower& w = WidePowers[static_cast<size_t>(e - WidePowerMin)];
  // 10^e = p64 * 2^(f - 63), within half a unit of p64 (the table guarantees no overflow).
  const uint64_t p64 = w.hi + (w.lo >> 63);
  const u128 product = static_cast<u128>(n) * p64;
  // p64 <= 2^64 - 2, so the product's upper word is at most 2^64 - 3 and rounding
  // it cannot overflow.
  uint64_t x = static_cast<uint64_t>(product >> 64) + (static_cast<uint64_t>(product) >> 63);
  // value ~ x * 2^e0
  int64_t e0 = floor_log2_pow10(e) + 1 - z;
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
bool above_midpoint(uint64_t b, const RealDigits& r) {
  const uint64_t field = b >> 52;
  const uint64_t m = field == 0 ? b & MantissaMask : (b & MantissaMask) | (uint64_t{1} << 52);
  const int64_t q = field == 0 ? -1074 : static_cast<int64_t>(field) - 1075;

  BigNumber digits;  // D: the significant digits as an integer
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
  ok &= e >= 0 ? digits.mul_pow10(static_cast<uint64_t>(e))
               : midpoint.mul_pow10(static_cast<uint64_t>(-e));
  ok &= q - 1 < 0 ? digits.shift_left(static_cast<uint64_t>(1 - q))
                  : midpoint.shift_left(static_cast<uint64_t>(q - 1));
  // The operands stay below 3700 bits; should that ever fail, keep the candidate.
  if (!ok) return false;
  const int c = compare(digits, midpoint);
  return c > 0 || (c == 0 && (m & 1) != 0);
}

bool convert_real(const RealDigits& r, bool negative, const uint8_t* start, JsonValue& out,
                  const ReaderInput& copy) {
  const int64_t e = r.exponent;
  const bool cut = r.cut_end != nullptr;
  if (e < WidePowerMin) {  // below 10^19 * 10^-344: under half the smallest subnormal
    set_real(out, 0, negative);
    return true;
  }
  if (e > 308) {
    fail(copy, Infinity, start);
    return false;
  }
  uint64_t s = r.significand;
  if (!cut) {
    if (s < (uint64_t{1} << 53) && e >= -22 && e <= 22) {
      double v = static_cast<double>(s);
      v = e < 0 ? v / ExactPowers[static_cast<size_t>(-e)] : v * ExactPowers[static_cast<size_t>(e)];
      out.tag = tag::Real;
      out.f64 = negative ? -v : v;
      return true;
    }
    uint64_t bits;
    if (e >= -306 && e <= 287 && wide_tier(s, e, bits)) {
      set_real(out, bits, negative);
      return true;
    }
  } else if (*r.cut_begin >= '5') {
    s += 1;  // at most 10^19, still 64 bits
  }
  uint64_t bits;
  switch (estimate_tier(s, e, cut, bits)) {
    case Estimate::Decided:
      break;
    case Estimate::Overflow:
      fail(copy, Infinity, start);
      return false;
    case Estimate::Undecided:
      if (above_midpoint(bits, r)) {
        bits += 1;
        if (bits >= InfinityBits) {
          fail(copy, Infinity, start);
          return false;
        }
      }
      break;
  }
  set_real(out, bits, negative);
  return true;
}

}  // namespace

const uint8_t* read_number_general(const uint8_t* start, JsonValue& out, const ReaderInput& copy) {
  const uint8_t* p = start;
  const bool negative = *p == '-';
  p += negative;
  RealDigits r{0, 0, nullptr, nullptr};
  unsigned kept = 0;  // significant digits in r.significand
  auto cut_digit = [&r](const uint8_t* q) {
    if (r.cut_begin == nullptr) r.cut_begin = q;
    if (*q != '0') r.cut_end = q + 1;
  };

  bool fraction = false;
  if (*p == '0') {
    const uint8_t next = p[1];
    if (!is_number_char(next)) {
      out.tag = negative ? tag::Signed : tag::Unsigned;
      out.u64 = 0;
      return p + 1;
    }
    if (is_digit(next)) return fail(copy, LeadingZero, p);
    ++p;
    if (*p != '.') return read_zero(p, negative, out, copy);
    ++p;
    if (!is_digit(*p)) return fail(copy, NoDigitAfterPoint, p);
    for (; *p == '0'; ++p) --r.exponent;
    if (!is_digit(*p)) return read_zero(p, negative, out, copy);
    fraction = true;
  } else {
    if (!is_digit(*p)) return fail(copy, NoDigitAfterMinus, p);
    for (; kept < 19 && is_digit(*p); ++p, ++kept) r.significand = r.significand * 10 + (*p - '0');
    const uint64_t s = r.significand;
    if (!is_number_char(*p)) {
      if (negative && s > SignBit) {  // 19 digits beyond the signed range
        set_real(out, std::bit_cast<uint64_t>(static_cast<double>(s)), true);
      } else {
        out.tag = negative ? tag::Signed : tag::Unsigned;
        out.u64 = negative ? 0 - s : s;
      }
      return p;
    }
    if (kept == 19 && is_digit(*p) && !is_number_char(p[1])) {
      const uint64_t d = static_cast<uint64_t>(*p - '0');
      constexpr uint64_t Limit = ~uint64_t{0} / 10;  // 1844674407370955161
      if (s < Limit || (s == Limit && d <= ~uint64_t{0} % 10)) {
        const uint64_t v = s * 10 + d;
        if (negative) {
          set_real(out, std::bit_cast<uint64_t>(static_cast<double>(v)), true);
        } else {
          out.tag = tag::Unsigned;
          out.u64 = v;
        }
        return p + 1;
      }
    }
    for (; is_digit(*p); ++p) {
      cut_digit(p);
      ++r.exponent;
    }
    if (*p == '.') {
      ++p;
      if (!is_digit(*p)) return fail(copy, NoDigitAfterPoint, p);
      fraction = true;
    }
  }
  if (fraction) {
    for (; is_digit(*p); ++p) {
      if (kept < 19) {
        r.significand = r.significand * 10 + static_cast<uint64_t>(*p - '0');
        ++kept;
        --r.exponent;
      } else {
        cut_digit(p);
      }
    }
  }
  if ((*p | 0x20) == 'e') {
    ++p;
    const bool exponent_negative = *p == '-';
    p += (*p == '-') | (*p == '+');
    if (!is_digit(*p)) return fail(copy, NoDigitAfterExponent, p);
    while (*p == '0') ++p;
    const uint8_t* const digits = p;
    int64_t x = 0;
    for (; is_digit(*p); ++p) {
      if (p - digits < 18) x = x * 10 + (*p - '0');  // 19 or more digits are out of range anyway
    }
    if (p - digits >= 19) {
      if (!exponent_negative) return fail(copy, Infinity, start);
      set_real(out, 0, negative);
      return p;
    }
    r.exponent += exponent_negative ? -x : x;
  }
  return convert_real(r, negative, start, out, copy) ? p : nullptr;
}

}  // namespace vellum::number_detail
