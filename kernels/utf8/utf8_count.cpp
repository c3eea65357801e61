#include "kernels/utf8/utf8_count.hpp"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>


namespace vellum::portable {
namespace {

// As signed bytes, continuation bytes are exactly those below -64.
inline bool is_char_start(uint8_t b) { return static_cast<int8_t>(b) >= -64; }

size_t count_bytes(const uint8_t* p, size_t n) {
  size_t count = 0;
  for (size_t i = 0; i < n; ++i) count += is_char_start(p[i]);
  return count;
}

// Bit 7 of each byte of the result is set when that byte is 10xxxxxx. The
// shift moves bit 6 of each byte onto its own bit 7; what crosses into the
// next byte lands on bit 0 and is masked off.
inline uint64_t continuation_bits(uint64_t w) { return w & ~(w << 1) & 0x8080808080808080u; }

// Number of set bits in a word whose bits are all at position 7 of a byte;
// the byte-wise sum reaches the top byte and cannot exceed 8.
inline unsigned count_high_bits(uint64_t bits) {
  return static_cast<unsigned>(((bits >> 7) * 0x0101010101010101u) >> 56);
}

// 8 to 15 bytes as two overlapping words; the shared bytes are counted once.
size_t count_words(const uint8_t* p, size_t n) {
  uint64_t first, last;
  std::memcpy(&first, p, 8);
  std::memcpy(&last, p + n - 8, 8);
  const uint64_t a = continuation_bits(first), b = continuation_bits(last);
  const uint64_t shared = a >> ((n - 8) * 8);
  return n - (count_high_bits(a) + count_high_bits(b) - count_high_bits(shared));
}

// Lane j of the 16 bytes at TailLanes + r is 0xFF exactly when j >= 16 - r:
// the last r lanes of a block that ends at the end of the input.
alignas(32) constexpr uint8_t TailLanes[32] = {
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

inline __m128i load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// Total of the two 64-bit halves of a sum of absolute differences.
inline size_t lane_sum(__m128i sums) {
  return static_cast<size_t>(_mm_cvtsi128_si64(sums) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
}

// At least 16 bytes. Each lane counter gains one per character start and is
// flushed before it can wrap; two counters hide the latency of the adds.
size_t count_vectors(const uint8_t* p, size_t n) {
  const __m128i floor = _mm_set1_epi8(-65);
  size_t total = 0, i = 0;
  while (n - i >= 16) {
    const size_t steps = std::min<size_t>((n - i) / 16, 2 * 255);
    __m128i even = _mm_setzero_si128(), odd = _mm_setzero_si128();
    size_t k = 0;
    for (; k + 2 <= steps; k += 2, i += 32) {
      even = _mm_sub_epi8(even, _mm_cmpgt_epi8(load(p + i), floor));
      odd = _mm_sub_epi8(odd, _mm_cmpgt_epi8(load(p + i + 16), floor));
    }
    if (k < steps) {
      even = _mm_sub_epi8(even, _mm_cmpgt_epi8(load(p + i), floor));
      i += 16;
    }
    total += lane_sum(_mm_add_epi64(_mm_sad_epu8(even, _mm_setzero_si128()),
                                    _mm_sad_epu8(odd, _mm_setzero_si128())));
  }
  if (i < n) {
    // The last 16 bytes, keeping only the lanes not counted yet.
    const size_t r = n - i;
    const __m128i starts = _mm_and_si128(_mm_cmpgt_epi8(load(p + n - 16), floor), load(TailLanes + r));
    total += lane_sum(_mm_sad_epu8(_mm_sub_epi8(_mm_setzero_si128(), starts), _mm_setzero_si128()));
  }
  return total;
}

}  // namespace

size_t count_utf8_chars(const uint8_t* p, size_t n) {
  if (n < 8) return count_bytes(p, n);
  if (n < 16) return count_words(p, n);
  return count_vectors(p, n);
}

}  // namespace vellum::portable
