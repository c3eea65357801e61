// The power-of-ten significands, computed at compile time with exact
// multi-word integers so that no hand-copied constant can be wrong.
#include "kernels/number/pow10_table.hpp"

#include <bit>

namespace vellum::number {
namespace {

__extension__ typedef unsigned __int128 u128;

// Little-endian multi-word unsigned integer, large enough for 10^324.
struct BigUint {
  static constexpr int Capacity = 18;
  uint64_t word[Capacity] = {};
  int size = 1;  // words in use; word[size - 1] != 0 unless the value is 0

  constexpr void multiply(uint64_t m) {
    uint64_t carry = 0;
    for (int i = 0; i < size; ++i) {
      const u128 t = static_cast<u128>(word[i]) * m + carry;
      word[i] = static_cast<uint64_t>(t);
      carry = static_cast<uint64_t>(t >> 64);
    }
    if (carry != 0) word[size++] = carry;
  }

  constexpr int bit_length() const {
    return 64 * (size - 1) + static_cast<int>(std::bit_width(word[size - 1]));
  }

  // The 64 bits starting at bit `pos` (bits outside the value read as 0).
  constexpr uint64_t bits_at(int pos) const {
    uint64_t r = 0;
    for (int b = 0; b < 64; ++b) {
      const int p = pos + b;
      if (p < 0 || p >= 64 * size) continue;
      r |= ((word[p / 64] >> (p % 64)) & 1) << b;
    }
    return r;
  }

  constexpr void shift_left_1() {
    uint64_t carry = 0;
    for (int i = 0; i < size; ++i) {
      const uint64_t next = word[i] >> 63;
      word[i] = (word[i] << 1) | carry;
      carry = next;
    }
    if (carry != 0) word[size++] = carry;
  }

  constexpr bool less_than(const BigUint& o) const {
    if (size != o.size) return size < o.size;
    for (int i = size - 1; i >= 0; --i) {
      if (word[i] != o.word[i]) return word[i] < o.word[i];
    }
    return false;
  }

  // *this -= o, requires *this >= o.
  constexpr void subtract(const BigUint& o) {
    uint64_t borrow = 0;
    for (int i = 0; i < size; ++i) {
      const uint64_t sub = i < o.size ? o.word[i] : 0;
      const uint64_t a = word[i];
      word[i] = a - sub - borrow;
      borrow = (a < sub || (a == sub && borrow != 0)) ? 1 : 0;
    }
    while (size > 1 && word[size - 1] == 0) --size;
  }

  static constexpr BigUint power_of_two(int n) {
    BigUint r;
    r.word[0] = 0;
    r.word[n / 64] = uint64_t{1} << (n % 64);
    r.size = n / 64 + 1;
    return r;
  }
};

constexpr Pow10Significand round_up(uint64_t hi, uint64_t lo) {
  return {lo == ~uint64_t{0} ? hi + 1 : hi, lo + 1};
}

constexpr auto make_table() {
  std::array<Pow10Significand, Pow10Max - Pow10Min + 1> t{};
  // Non-negative exponents: the leading 128 bits of 10^e.
  BigUint p;
  p.word[0] = 1;
  for (int e = 0; e <= Pow10Max; ++e) {
    const int top = p.bit_length();  // == floor_log2_pow10(e) + 1
    t[e - Pow10Min] = round_up(p.bits_at(top - 64), p.bits_at(top - 128));
    p.multiply(10);
  }
  // Negative exponents: 10^-n = 2^-n / 5^n; long division of a power of two
  // by 5^n yields its leading 128 bits, the first of which is always 1.
  BigUint five;
  five.word[0] = 1;
  for (int n = 1; n <= -Pow10Min; ++n) {
    five.multiply(5);
    BigUint rem = BigUint::power_of_two(five.bit_length());
    rem.subtract(five);
    uint64_t hi = 0;
    uint64_t lo = 1;
    for (int bit = 1; bit < 128; ++bit) {
      hi = (hi << 1) | (lo >> 63);
      lo <<= 1;
      rem.shift_left_1();
      if (!rem.less_than(five)) {
        rem.subtract(five);
        lo |= 1;
      }
    }
    t[-n - Pow10Min] = round_up(hi, lo);
  }
  return t;
}

}  // namespace

constinit const std::array<Pow10Significand, Pow10Max - Pow10Min + 1> pow10_significands = make_table();

}  // namespace vellum::number
