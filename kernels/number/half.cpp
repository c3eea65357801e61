// The portable half-precision widening and the choice of form.
#include "kernels/number/half.hpp"

#include <cstring>

#include "base/cpu_features.hpp"

namespace vellum {
namespace portable {

void half_to_float(const uint8_t* src, size_t n, float* dst) {
  for (size_t i = 0; i < n; ++i) {
    uint16_t half;
    std::memcpy(&half, src + 2 * i, 2);
    dst[i] = std::bit_cast<float>(half_bits_to_float_bits(half));
  }
}

}  // namespace portable

HalfRoutines select_half_routines(uint64_t features) {
  if (features & cpu::F16c) return {&f16c::half_to_float};
  return {&portable::half_to_float};
}

const HalfRoutines half_routines = select_half_routines(cpu::selected_features());

}  // namespace vellum
