// 128-bit significands of the powers of ten that the shortest float search
// scales by, and the integer logarithms that select them.
#pragma once

#include <array>
#include <cstdint>

namespace vellum::number {

// g(e) = floor(10^e * 2^-r) + 1 with r chosen so that 2^127 < g(e) <= 2^128
// (in fact < 2^128: no power of ten sits just below a power of two); that is
// 10^e rounded up to 128 bits, r = floor_log2_pow10(e) - 127.
struct Pow10Significand {
  uint64_t hi;
  uint64_t lo;
};

// Every double needs 10^-k for k in [-324, 293] (the search scales by one
// power more than the interval's width needs); singles use a sub-range.
inline constexpr int Pow10Min = -293;
inline constexpr int Pow10Max = 324;

extern const std::array<Pow10Significand, Pow10Max - Pow10Min + 1> pow10_significands;

// floor(e * log2(10)), exact for |e| <= 1233.
inline constexpr int floor_log2_pow10(int e) { return (e * 1741647) >> 19; }

// floor(q * log10(2)), exact for |q| <= 2620.
inline constexpr int floor_log10_pow2(int q) { return (q * 315653) >> 20; }

// floor(q * log10(2) + log10(3/4)), exact for |q| <= 1334.
inline constexpr int floor_log10_three_quarters_pow2(int q) { return (q * 315653 - 131008) >> 20; }

}  // namespace vellum::number
