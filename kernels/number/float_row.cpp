// The portable rows of floats, one value at a time, and the list of forms.
#include "kernels/number/float_row.hpp"

#include "base/cpu_features.hpp"
#include "kernels/number/format.hpp"

namespace vellum {
namespace portable {
namespace {

template <typename T, auto format>
[[gnu::flatten]] uint8_t* row(uint8_t* dst, const uint8_t* src, size_t n, Separator separator) {
  for (size_t i = 0; i < n; ++i) {
    T v;
    std::memcpy(&v, src + i * sizeof(T), sizeof(T));
    dst = put_separator(format(dst, v), separator);
  }
  return dst;
}

}  // namespace

template <>
const FloatRowRoutines& routines<FloatRowRoutines>() {
  static constexpr FloatRowRoutines Table{&row<double, &format_f64>, &row<float, &format_f32>};
  return Table;
}

}  // namespace portable

constexpr simd::Form<FloatRowRoutines> FloatRowForms[] = {
    simd::form<FloatRowRoutines, simd::Isa::Avx512>(),
    simd::form<FloatRowRoutines, simd::Isa::Portable>(),
};
const std::span<const simd::Form<FloatRowRoutines>> float_row_forms = FloatRowForms;

const FloatRowRoutines float_row_routines = simd::pick(float_row_forms, cpu::selected_features());

}  // namespace vellum
