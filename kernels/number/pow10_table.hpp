// Powers of ten and the integer logarithms that select them: the small
// exact ones, and the 128-bit significands that both the decimal parser and
// the shortest float search scale by, from one generator (pow10_table.cpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vellum::number {

// 10^0 .. 10^(N-1) in T.
template <typename T, size_t N>
constexpr std::array<T, N> powers_of_ten() {
  std::array<T, N> table{};
  T v = 1;
  for (T& entry : table) {
    entry = v;
    v *= 10;
  }
  return table;
}

// 10^0 .. 10^22: every one is exact in binary64.
inline constexpr std::array<double, 23> ExactPowers = powers_of_ten<double, 23>();

// 10^0 .. 10^19 as 64-bit integers.
inline constexpr std::array<uint64_t, 20> IntegerPowers = powers_of_ten<uint64_t, 20>();

// floor(e * log2(10)), exact for |e| <= 1233.
inline constexpr int floor_log2_pow10(int e) { return (e * 1741647) >> 19; }

// floor(q * log10(2)), exact for |q| <= 2620.
inline constexpr int floor_log10_pow2(int q) { return (q * 315653) >> 20; }

// floor(q * log10(2) + log10(3/4)), exact for |q| <= 1334.
inline constexpr int floor_log10_three_quarters_pow2(int q) { return (q * 315653 - 131008) >> 20; }

// The leading 128 bits of 10^e, scaled by 2^(127 - floor_log2_pow10(e)) so
// that bit 127 is set.
struct Pow10Significand {
  uint64_t hi;
  uint64_t lo;
};

// Truncated, for the decimal parser, whose products then lie below the
// truth: every e the parser's 64-bit estimate needs (19 digits times
// 10^-343 is below half the smallest subnormal).
inline constexpr int TruncatedPow10Min = -343;
inline constexpr int TruncatedPow10Max = 324;
extern const std::array<Pow10Significand, TruncatedPow10Max - TruncatedPow10Min + 1> pow10_truncated;

// Rounded up: the truncated significand plus one, above the power by at
// most one unit of its last bit (exactly one where the power has 128
// significant bits or fewer). For the shortest search: every double needs
// 10^-k for k in [-324, 293] (the search scales by one power more than the
// interval's width needs); singles use a sub-range.
inline constexpr int RoundedPow10Min = -293;
inline constexpr int RoundedPow10Max = 324;
extern const std::array<Pow10Significand, RoundedPow10Max - RoundedPow10Min + 1> pow10_rounded_up;

inline const Pow10Significand& truncated_pow10(int e) { return pow10_truncated[e - TruncatedPow10Min]; }
inline const Pow10Significand& rounded_up_pow10(int e) { return pow10_rounded_up[e - RoundedPow10Min]; }

}  // namespace vellum::number
