#include "reader/number_bigint.hpp"

#include "reader/number_tables.hpp"

namespace vellum {

bool BigNumber::mul_add(uint64_t multiplier, uint64_t addend) {
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

bool BigNumber::mul_pow10(uint64_t exponent) {
  constexpr uint64_t Step = 19;
  for (; exponent >= Step; exponent -= Step) {
    if (!mul_add(IntegerPowers[Step], 0)) return false;
  }
  return exponent == 0 || mul_add(IntegerPowers[exponent], 0);
}

bool BigNumber::shift_left(uint64_t bits) {
  if (used == 0) return true;
  uint64_t word_shift = bits / 64;
  unsigned bit_shift = static_cast<unsigned>(bits % 64);
  uint64_t top = bit_shift != 0 ? words[used - 1] >> (64 - bit_shift) : 0;
  uint64_t new_used = used + word_shift + (top != 0 ? 1 : 0);
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

int compare(const BigNumber& a, const BigNumber& b) {
  if (a.used != b.used) return a.used < b.used ? -1 : 1;
  for (uint32_t i = a.used; i-- > 0;) {
    if (a.words[i] != b.words[i]) return a.words[i] < b.words[i] ? -1 : 1;
  }
  return 0;
}

}  // namespace vellum
