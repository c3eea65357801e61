// The single-precision bits of a half-precision value, computed from its
// fields in double arithmetic: independent of the bit manipulation of the
// product's forms. Shared by the unit tests and the fuzz targets.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

namespace vellum::oracle {

inline uint32_t half_to_float_bits(uint16_t h) {
  const bool negative = (h & 0x8000) != 0;
  const int exponent = (h >> 10) & 0x1f;
  const int fraction = h & 0x3ff;
  if (exponent == 0x1f) {
    if (fraction == 0) return std::bit_cast<uint32_t>(negative ? -INFINITY : INFINITY);
    // Payload in the top fraction bits, quiet bit set.
    return (negative ? 0x80000000u : 0) | 0x7fc00000u | static_cast<uint32_t>(fraction) << 13;
  }
  const double magnitude = exponent == 0 ? std::ldexp(fraction, -24) : std::ldexp(1024 + fraction, exponent - 25);
  return std::bit_cast<uint32_t>(static_cast<float>(negative ? -magnitude : magnitude));
}

}  // namespace vellum::oracle
