#include "kernels/utf8/utf8_shape.hpp"

#include <emmintrin.h>

#include "kernels/utf8/utf8_count.hpp"

namespace vellum {
namespace {

inline __m128i load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

inline uint8_t lane_max(__m128i v) {
  v = _mm_max_epu8(v, _mm_srli_si128(v, 8));
  v = _mm_max_epu8(v, _mm_srli_si128(v, 4));
  v = _mm_max_epu8(v, _mm_srli_si128(v, 2));
  v = _mm_max_epu8(v, _mm_srli_si128(v, 1));
  return static_cast<uint8_t>(_mm_cvtsi128_si32(v));
}

}  // namespace

// The maximum does not mind bytes seen twice, so the pieces after the whole
// blocks may overlap.
uint8_t largest_byte(const uint8_t* p, size_t n) {
  if (n < 8) {
    uint8_t m = 0;
    for (size_t i = 0; i < n; ++i) m = p[i] > m ? p[i] : m;
    return m;
  }
  if (n < 16) {
    const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + n - 8));
    return lane_max(_mm_max_epu8(a, b));
  }
  __m128i m = _mm_setzero_si128();
  size_t i = 0;
  for (; i + 32 <= n; i += 32) m = _mm_max_epu8(m, _mm_max_epu8(load(p + i), load(p + i + 16)));
  if (n - i > 16) m = _mm_max_epu8(m, load(p + i));
  if (i < n) m = _mm_max_epu8(m, load(p + n - 16));
  return lane_max(m);
}

Utf8Shape portable::utf8_shape(const uint8_t* p, size_t n) {
  return utf8_shape_of_count(p, n, portable::count_utf8_chars(p, n));
}

}  // namespace vellum
