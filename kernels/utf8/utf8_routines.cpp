#include "kernels/utf8/utf8_routines.hpp"

#include "base/cpu_features.hpp"

namespace vellum {

template <>
const Utf8Routines& portable::routines<Utf8Routines>() {
  static constexpr Utf8Routines Table{&validate_utf8, &count_utf8_chars, &utf8_shape, &utf8_decode};
  return Table;
}

constexpr simd::Form<Utf8Routines> Utf8Forms[] = {
    simd::form<Utf8Routines, simd::Isa::Avx512>(),
    simd::form<Utf8Routines, simd::Isa::Avx2>(),
    simd::form<Utf8Routines, simd::Isa::Portable>(),
};
const std::span<const simd::Form<Utf8Routines>> utf8_forms = Utf8Forms;

const Utf8Routines utf8_routines = simd::pick(utf8_forms, cpu::selected_features());

}  // namespace vellum
