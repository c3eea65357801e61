// Fixed-capacity unsigned big integer: the power-of-ten tables are computed
// with it at compile time, and the decimal parser's exact comparison uses it
// at run time.
#pragma once

#include <bit>
#include <cstdint>

#include "kernels/number/pow10_table.hpp"

namespace vellum::number {

// 4096 bits, least significant word first. Every operation that can grow
// the value reports whether the result still fits; the parser's inputs are
// bounded so that it always does (at most about 3700 bits). Loops take only
// the words in use. A constant needs all its words set: make it with
// `BigNumber x{}`.
struct BigNumber {
  static constexpr uint32_t Capacity = 64;
  uint32_t used = 0;  // words in use; words[used - 1] is nonzero when used > 0
  uint64_t words[Capacity];

  constexpr void assign(uint64_t v) {
    words[0] = v;
    used = v != 0 ? 1 : 0;
  }

  constexpr uint32_t bit_length() const {
    return used == 0 ? 0 : 64 * (used - 1) + static_cast<uint32_t>(std::bit_width(words[used - 1]));
  }

  [[nodiscard]] constexpr bool mul_add(uint64_t multiplier, uint64_t addend) {
    unsigned __int128 carry = addend;
    for (uint32_t i = 0; i < used; ++i) {
      carry += static_cast<unsigned __int128>(words[i]) * multiplier;
      words[i] = static_cast<uint64_t>(carry);
      carry >>= 64;
    }
    if (carry != 0) {
      if (used == Capacity) return false;
      words[used++] = static_cast<uint64_t>(carry);
    }
    // A zero multiplier leaves high zero words behind.
    while (used > 0 && words[used - 1] == 0) --used;
    return true;
  }

  [[nodiscard]] constexpr bool mul_pow10(uint64_t exponent) {
    constexpr uint64_t Step = 19;
    for (; exponent >= Step; exponent -= Step) {
      if (!mul_add(IntegerPowers[Step], 0)) return false;
    }
    return exponent == 0 || mul_add(IntegerPowers[exponent], 0);
  }

  [[nodiscard]] constexpr bool shift_left(uint64_t bits) {
    if (used == 0) return true;
    const uint64_t word_shift = bits / 64;
    const unsigned bit_shift = static_cast<unsigned>(bits % 64);
    const uint64_t top = bit_shift != 0 ? words[used - 1] >> (64 - bit_shift) : 0;
    const uint64_t new_used = used + word_shift + (top != 0 ? 1 : 0);
    if (new_used > Capacity) return false;
    if (top != 0) words[new_used - 1] = top;
    for (uint32_t i = used; i-- > 0;) {
      uint64_t v = words[i] << bit_shift;
      if (bit_shift != 0 && i > 0) v |= words[i - 1] >> (64 - bit_shift);
      words[i + word_shift] = v;
    }
    for (uint64_t i = 0; i < word_shift; ++i) words[i] = 0;
    used = static_cast<uint32_t>(new_used);
    return true;
  }

  // *this -= b, for b <= *this.
  constexpr void subtract(const BigNumber& b) {
    uint64_t borrow = 0;
    for (uint32_t i = 0; i < used; ++i) {
      const uint64_t a = words[i];
      const uint64_t s = i < b.used ? b.words[i] : 0;
      words[i] = a - s - borrow;
      borrow = (a < s || (a == s && borrow != 0)) ? 1 : 0;
    }
    while (used > 0 && words[used - 1] == 0) --used;
  }

  // The 64 bits from bit `pos` up; bits outside the value read as 0.
  constexpr uint64_t bits_at(int64_t pos) const {
    uint64_t r = 0;
    for (int64_t b = 0; b < 64; ++b) {
      const int64_t p = pos + b;
      if (p >= 0 && p < 64 * int64_t{used}) r |= ((words[p / 64] >> (p % 64)) & 1) << b;
    }
    return r;
  }
};

// -1, 0 or 1 as a is below, equal to or above b.
constexpr int compare(const BigNumber& a, const BigNumber& b) {
  if (a.used != b.used) return a.used < b.used ? -1 : 1;
  for (uint32_t i = a.used; i-- > 0;) {
    if (a.words[i] != b.words[i]) return a.words[i] < b.words[i] ? -1 : 1;
  }
  return 0;
}

}  // namespace vellum::number
