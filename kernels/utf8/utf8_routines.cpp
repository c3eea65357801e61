#include "kernels/utf8/utf8_routines.hpp"

#include "base/cpu_features.hpp"

namespace vellum {

Utf8Routines select_utf8_routines(uint64_t features) {
  Utf8Routines r{&portable::validate_utf8, &portable::count_utf8_chars, &portable::utf8_shape};
  if (features & cpu::Avx2) r = {&avx2::validate_utf8, &avx2::count_utf8_chars, &avx2::utf8_shape};
  if (features & cpu::Avx512Vl) r.shape = &avx512::utf8_shape;
  return r;
}

const Utf8Routines utf8_routines = select_utf8_routines(cpu::selected_features());

}  // namespace vellum
