// Half-precision (IEEE 754 binary16) values widened exactly to single
// precision: signed zeros, subnormals normalised, infinities, and NaNs with
// their payload kept and the quiet bit set. Every form gives the same bits.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

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

// Integer operations: runs on any x86-64 processor.
namespace portable {
void half_to_float(const uint8_t* src, size_t n, float* dst);
}
// The conversion instruction, eight values at a time; needs F16C (and AVX).
namespace f16c {
void half_to_float(const uint8_t* src, size_t n, float* dst);
}
// The same code over portable intrinsics (test build only).
namespace f16c_simde {
void half_to_float(const uint8_t* src, size_t n, float* dst);
}

struct HalfRoutines {
  HalfToFloatFn half_to_float;
};

// The fastest forms a processor with `features` runs.
HalfRoutines select_half_routines(uint64_t features);

// Chosen once, when the library is loaded, by cpu::selected_features().
extern const HalfRoutines half_routines;

}  // namespace vellum
