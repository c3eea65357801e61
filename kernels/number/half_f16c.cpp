#include "base/simd/variant.hpp"

// Half-precision widening with the conversion instruction.
#include <cstring>

#include "kernels/number/half.hpp"

VELLUM_TARGET_F16C_BEGIN
namespace vellum::VELLUM_VARIANT(f16c) {

void half_to_float(const uint8_t* src, size_t n, float* dst) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8)
    _mm256_storeu_ps(dst + i, _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * i))));
  if (i < n) {
    // The last few values through a zero-filled block, so that nothing
    // outside the source or destination is read or written.
    alignas(16) uint8_t halves[16] = {};
    alignas(32) float floats[8];
    std::memcpy(halves, src + 2 * i, 2 * (n - i));
    _mm256_store_ps(floats, _mm256_cvtph_ps(_mm_load_si128(reinterpret_cast<const __m128i*>(halves))));
    std::memcpy(dst + i, floats, sizeof(float) * (n - i));
  }
}

template <>
const HalfRoutines& routines<HalfRoutines>() {
  static constexpr HalfRoutines Table{&half_to_float};
  return Table;
}

}  // namespace vellum::VELLUM_VARIANT(f16c)
VELLUM_TARGET_END
