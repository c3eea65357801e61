#include "src/simd/variant.hpp"

// The scan for long strings in 64-byte blocks for processors with AVX-512BW:
// the tests go straight to mask registers, which leaves the vector ports
// free and makes a block cost two compares.
#include "reader/string.hpp"

VELLUM_TARGET_AVX512_BEGIN
namespace vellum::VELLUM_VARIANT(avx512) {
namespace {

inline __m512i load64(const uint8_t* p) { return _mm512_loadu_si512(p); }

}  // namespace

uint8_t* find_stop(uint8_t* p, const uint8_t* tail_end) {
  // Flipping bit 1 leaves 0x00-0x1F where they are and moves '"' to 0x20,
  // so one unsigned "at most 0x20" covers both.
  const __m512i flip = _mm512_set1_epi8(0x02), limit = _mm512_set1_epi8(0x20);
  const __m512i backslash = _mm512_set1_epi8('\\');
  auto stops = [&](__m512i v) -> uint64_t {
    return _mm512_cmple_epu8_mask(_mm512_xor_si512(v, flip), limit) | _mm512_cmpeq_epi8_mask(v, backslash);
  };
  while (tail_end - p >= 128) {
    const uint64_t a = stops(load64(p)), b = stops(load64(p + 64));
    if ((a | b) != 0) return a != 0 ? p + __builtin_ctzll(a) : p + 64 + __builtin_ctzll(b);
    p += 128;
  }
  while (tail_end - p >= 64) {
    const uint64_t mask = stops(load64(p));
    if (mask != 0) return p + __builtin_ctzll(mask);
    p += 64;
  }
  // Lanes past the end are left out of the load and read as zero, a stop.
  const uint64_t lanes = _bzhi_u64(~uint64_t{0}, static_cast<unsigned>(tail_end - p));
  const uint64_t mask = stops(_mm512_maskz_loadu_epi8(lanes, p));
  return p + __builtin_ctzll(mask);
}

}  // namespace vellum::VELLUM_VARIANT(avx512)
VELLUM_TARGET_END
