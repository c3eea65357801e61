// Half-precision (IEEE 754 binary16) values widened exactly to single
// precision: signed zeros, subnormals normalised, infinities, and NaNs with
// their payload kept and the quiet bit set. Every form gives the same bits.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/simd/forms.hpp"

namespace vellum {

// Widens the n halves at src (native byte order, any alignment) into dst.
using HalfToFloatFn = void (*)(const uint8_t* src, size_t n, float* dst);

// One value with integer operations; the reference for every form.
constexpr uint32_t half_bits_to_float_bits(uint16_t half) {
  const uint32_t sign = uint32_t{half & 0x8000u} << 16;
  const uint32_t exponent = (half >> 10) & 0x1f;
  const uint32_t fraction = half & 0x3ffu;
  if (exponent == 0x1f) return sign | 0x7f800000u | fraction << 13 | (fraction != 0 ? 0x400000u : 0);
  if (exponent != 0) return sign | (exponent + (127 - 15)) << 23 | fraction << 13;
  if (fraction == 0) return sign;
  // Subnormal: fraction * 2^-24, its leading one at bit `top`.
  const int top = 31 - std::countl_zero(fraction);
  return sign | static_cast<uint32_t>(top + 127 - 24) << 23 | (fraction << (23 - top) & 0x7fffffu);
}

struct HalfRoutines {
  HalfToFloatFn half_to_float;
};

// Every form, widest first: half_f16c.cpp (the conversion instruction,
// eight values at a time), half.cpp (integer operations, any x86-64
// processor).
extern const std::span<const simd::Form<HalfRoutines>> half_forms;

// Chosen once, when the library is loaded: simd::pick(half_forms,
// cpu::selected_features()).
extern const HalfRoutines half_routines;

}  // namespace vellum
