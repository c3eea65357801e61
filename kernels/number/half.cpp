// The portable half-precision widening and the list of forms.
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

template <>
const HalfRoutines& routines<HalfRoutines>() {
  static constexpr HalfRoutines Table{&half_to_float};
  return Table;
}

}  // namespace portable

constexpr simd::Form<HalfRoutines> HalfForms[] = {
    simd::form<HalfRoutines, simd::Isa::F16c>(),
    simd::form<HalfRoutines, simd::Isa::Portable>(),
};
const std::span<const simd::Form<HalfRoutines>> half_forms = HalfForms;

const HalfRoutines half_routines = simd::pick(half_forms, cpu::selected_features());

}  // namespace vellum
