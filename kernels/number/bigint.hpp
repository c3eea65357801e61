// Fixed-capacity unsigned big integer for the number reader's exact comparison.
#pragma once

#include <cstdint>

namespace vellum {

// 4096 bits on the stack, least significant word first. Every operation reports
// whether the result still fits; the number reader's inputs are bounded so that
// it always does (at most about 3700 bits).
struct BigNumber {
  static constexpr uint32_t Capacity = 64;
  uint32_t used = 0;  // words in use; words[used - 1] is nonzero when used > 0
  uint64_t words[Capacity];

  void assign(uint64_t v) {
    words[0] = v;
    used = v != 0 ? 1 : 0;
  }
  [[nodiscard]] bool mul_add(uint64_t multiplier, uint64_t addend);
  [[nodiscard]] bool mul_pow10(uint64_t exponent);
  [[nodiscard]] bool shift_left(uint64_t bits);
};

// -1, 0 or 1 as a is below, equal to or above b.
int compare(const BigNumber& a, const BigNumber& b);

}  // namespace vellum
