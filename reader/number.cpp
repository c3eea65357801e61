#include "reader/number.hpp"

#include "kernels/number/decimal_to_double.hpp"

namespace vellum::number_detail {

using number::DecimalDigits;

namespace {

constexpr const char* NoDigitAfterMinus = "no digit after minus sign";
constexpr const char* LeadingZero = "number with leading zero is not allowed";
constexpr const char* NoDigitAfterPoint = "no digit after decimal point";
constexpr const char* NoDigitAfterExponent = "no digit after exponent sign";
constexpr const char* Infinity = "number is infinity when parsed as double";

const uint8_t* fail(const ReaderInput& input, const char* message, const uint8_t* position) {
  input.fail(ReadErrorCode::InvalidNumber, message, position);
  return nullptr;
}

inline void set_real(JsonValue& out, uint64_t magnitude_bits, bool negative) {
  out.tag = tag::Real;
  out.f64 = std::bit_cast<double>(magnitude_bits | (negative ? SignBit : 0));
}

// The number kernel's conversion of a real, or the failure of one too large.
const uint8_t* convert_real(const uint8_t* end, const DecimalDigits& digits, bool negative, const uint8_t* start,
                            JsonValue& out, const ReaderInput& input) {
  const uint64_t bits = number::decimal_to_double(digits);
  if (bits == number::InfinityBits && !input.unbounded_reals) return fail(input, Infinity, start);
  set_real(out, bits, negative);
  return end;
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

// The cases the wide product leaves; out of line to keep the common path short.
[[gnu::noinline]] const uint8_t* finish_rare_real(const uint8_t* end, const uint8_t* start, uint64_t s, int64_t e,
                                                  bool negative, JsonValue& out, const ReaderInput& input) {
  if (s == 0) {
    set_real(out, 0, negative);
    return end;
  }
  return convert_real(end, {s, e, nullptr, nullptr}, negative, start, out, input);
}

// Finishes a real whose digits all fit the significand (s may be 0). `count`
// digits (leading zeros included) made s. The exact product is chosen by the
// count rather than by s: the count is known much earlier, so the branch
// settles sooner, and 16 or more digits take the wide product, which handles
// them as well.
[[gnu::always_inline]] inline const uint8_t* finish_short_real(const uint8_t* end,
                                                                const uint8_t* start, uint64_t s,
                                                                int64_t e, unsigned count,
                                                                bool negative, JsonValue& out,
                                                                const ReaderInput& input) {
  if (count <= 15 && e >= -22 && e <= 22) {  // s < 10^15 < 2^53
    const double v = number::exact_product(s, e);
    out.tag = tag::Real;
    out.f64 = negative ? -v : v;
    return end;
  }
  uint64_t bits;
  if (e >= -306 && e <= 287 && s != 0 && number::wide_product(s, e, bits)) {
    set_real(out, bits, negative);
    return end;
  }
  return finish_rare_real(end, start, s, e, negative, out, input);
}

}  // namespace

const uint8_t* read_real_tail(const uint8_t* start, const uint8_t* p, uint64_t s, unsigned count,
                              bool negative, JsonValue& out, const ReaderInput& input) {
  int64_t e = 0;
  if (*p == '.') {
    ++p;
    const uint8_t* const fraction = p;
    p = append_digits(p, s, count);
    if (p == nullptr || p == fraction) return read_number_general(start, out, input);
    e = fraction - p;
  }
  if ((*p | 0x20) == 'e') {
    ++p;
    const bool exponent_negative = *p == '-';
    p += (*p == '-') | (*p == '+');
    const DigitRun run = read_digits4(p);
    // Four or more exponent digits are rare enough for the general reader.
    if (run.count - 1 > 2) return read_number_general(start, out, input);
    p += run.count;
    e += exponent_negative ? -static_cast<int64_t>(run.value) : static_cast<int64_t>(run.value);
  }
  return finish_short_real(p, start, s, e, count, negative, out, input);
}

namespace {

constexpr bool is_digit(uint8_t c) { return (DigitClassTable[c] & digit_class::Digit) != 0; }

// After "0" or "0.000": an optional exponent whose value cannot matter.
const uint8_t* read_zero(const uint8_t* p, bool negative, JsonValue& out, const ReaderInput& input) {
  if ((*p | 0x20) == 'e') {
    ++p;
    p += (*p == '-') | (*p == '+');
    if (!is_digit(*p)) return fail(input, NoDigitAfterExponent, p);
    while (is_digit(*p)) ++p;
  }
  set_real(out, 0, negative);
  return p;
}

}  // namespace

const uint8_t* read_number_general(const uint8_t* start, JsonValue& out, const ReaderInput& input) {
  const uint8_t* p = start;
  const bool negative = *p == '-';
  p += negative;
  DecimalDigits r{0, 0, nullptr, nullptr};
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
    if (is_digit(next)) return fail(input, LeadingZero, p);
    ++p;
    if (*p != '.') return read_zero(p, negative, out, input);
    ++p;
    if (!is_digit(*p)) return fail(input, NoDigitAfterPoint, p);
    for (; *p == '0'; ++p) --r.exponent;
    if (!is_digit(*p)) return read_zero(p, negative, out, input);
    fraction = true;
  } else {
    if (!is_digit(*p)) return fail(input, NoDigitAfterMinus, p);
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
      if (!is_digit(*p)) return fail(input, NoDigitAfterPoint, p);
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
    if (!is_digit(*p)) return fail(input, NoDigitAfterExponent, p);
    while (*p == '0') ++p;
    const uint8_t* const digits = p;
    int64_t x = 0;
    for (; is_digit(*p); ++p) {
      if (p - digits < 18) x = x * 10 + (*p - '0');  // 19 or more digits are out of range anyway
    }
    if (p - digits >= 19) {
      if (!exponent_negative && !input.unbounded_reals) return fail(input, Infinity, start);
      set_real(out, exponent_negative ? 0 : number::InfinityBits, negative);
      return p;
    }
    r.exponent += exponent_negative ? -x : x;
  }
  return convert_real(p, r, negative, start, out, input);
}

}  // namespace vellum::number_detail
