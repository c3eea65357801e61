#include "base/simd/variant.hpp"

// Character counting with 32-byte vectors.
#include "kernels/utf8/utf8_count.hpp"

VELLUM_TARGET_AVX2_BEGIN
namespace vellum::VELLUM_VARIANT(avx2) {
namespace {

// Lane j of the 32 bytes at TailLanes + r is 0xFF exactly when j >= 32 - r.
alignas(64) constexpr uint8_t TailLanes[64] = {
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

inline __m256i load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

// Sum of the byte lanes of the per-lane counters.
inline size_t lane_sum(__m256i sad) {
  const __m128i s = _mm_add_epi64(_mm256_castsi256_si128(sad), _mm256_extracti128_si256(sad, 1));
  return static_cast<size_t>(_mm_cvtsi128_si64(s) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(s, s)));
}

}  // namespace

size_t count_utf8_chars(const uint8_t* p, size_t n) {
  if (n < 32) return portable::count_utf8_chars(p, n);
  // Continuation bytes are exactly those below -64 as signed bytes.
  const __m256i floor = _mm256_set1_epi8(-65);
  const __m256i zero = _mm256_setzero_si256();
  size_t total = 0, i = 0;
  while (n - i >= 32) {
    // Each lane counter gains at most 255 before it is flushed.
    const size_t steps = (n - i) / 32 < 2 * 255 ? (n - i) / 32 : 2 * 255;
    __m256i even = zero, odd = zero;
    size_t k = 0;
    for (; k + 2 <= steps; k += 2, i += 64) {
      even = _mm256_sub_epi8(even, _mm256_cmpgt_epi8(load(p + i), floor));
      odd = _mm256_sub_epi8(odd, _mm256_cmpgt_epi8(load(p + i + 32), floor));
    }
    if (k < steps) {
      even = _mm256_sub_epi8(even, _mm256_cmpgt_epi8(load(p + i), floor));
      i += 32;
    }
    total += lane_sum(_mm256_add_epi64(_mm256_sad_epu8(even, zero), _mm256_sad_epu8(odd, zero)));
  }
  if (i < n) {
    // The last 32 bytes, keeping only the lanes not counted yet.
    const size_t r = n - i;
    const __m256i starts = _mm256_and_si256(_mm256_cmpgt_epi8(load(p + n - 32), floor), load(TailLanes + r));
    total += lane_sum(_mm256_sad_epu8(_mm256_sub_epi8(zero, starts), zero));
  }
  return total;
}

}  // namespace vellum::VELLUM_VARIANT(avx2)
VELLUM_TARGET_END
