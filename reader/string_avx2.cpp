#include "src/simd/variant.hpp"

// The string routines in 32-byte blocks for processors with AVX2; the same
// steps as the SSE2 ones, twice as wide.
#include "reader/string.hpp"

VELLUM_TARGET_AVX2_BEGIN
namespace vellum::VELLUM_VARIANT(avx2) {
namespace {

using string_detail::end_escaped;
using string_detail::move_short;
using string_detail::take_escape;
using string_detail::unescape_bytewise;

inline __m256i load32(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
inline void store32(uint8_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

// 0xFF in every lane that stops a scan. Flipping bit 1 leaves 0x00-0x1F where
// they are and moves '"' to 0x20, so one unsigned "at most 0x20" covers both.
inline __m256i stops_of(__m256i v) {
  const __m256i flipped = _mm256_xor_si256(v, _mm256_set1_epi8(0x02));
  const __m256i low = _mm256_cmpeq_epi8(_mm256_min_epu8(flipped, _mm256_set1_epi8(0x20)), flipped);
  return _mm256_or_si256(low, _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\\')));
}

inline uint32_t mask_of(__m256i stops) { return static_cast<uint32_t>(_mm256_movemask_epi8(stops)); }

// Moves the run [src, src + n), n < 64, down to `dst`; 64 bytes at `src` are
// readable. Once unescaping has shrunk the text by 32 bytes or more, a whole
// block lands on bytes already consumed, whatever it carries past the run.
inline void copy_run(uint8_t* dst, const uint8_t* src, size_t n) {
  if (src - dst >= 32) [[likely]] {
    store32(dst, load32(src));
    // Ends at most 32 bytes past the source, inside the run.
    if (n > 32) store32(dst + 32, load32(src + 32));
  } else if (n >= 32) {
    const __m256i head = load32(src), last = load32(src + n - 32);
    store32(dst, head);
    store32(dst + n - 32, last);
  } else if (n >= 16) {
    const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    const __m128i last = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + n - 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), head);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n - 16), last);
  } else {
    move_short(dst, src, n);
  }
}

}  // namespace

uint8_t* find_stop(uint8_t* p, const uint8_t* tail_end) {
  const __m256i flip = _mm256_set1_epi8(0x02), limit = _mm256_set1_epi8(0x20);
  const __m256i backslash = _mm256_set1_epi8('\\');
  while (tail_end - p >= 64) {
    // Whether any of the 64 bytes stops, with one test for both halves'
    // control bytes and quotation marks; the stop itself is found afterwards.
    const __m256i a = load32(p), b = load32(p + 32);
    const __m256i low = _mm256_min_epu8(_mm256_xor_si256(a, flip), _mm256_xor_si256(b, flip));
    const __m256i any = _mm256_or_si256(
        _mm256_cmpeq_epi8(_mm256_min_epu8(low, limit), low),
        _mm256_or_si256(_mm256_cmpeq_epi8(a, backslash), _mm256_cmpeq_epi8(b, backslash)));
    if (!_mm256_testz_si256(any, any)) {
      const uint64_t mask = mask_of(stops_of(a)) | uint64_t{mask_of(stops_of(b))} << 32;
      return p + __builtin_ctzll(mask);
    }
    p += 64;
  }
  if (tail_end - p >= 32) {
    const uint32_t mask = mask_of(stops_of(load32(p)));
    if (mask != 0) return p + __builtin_ctz(mask);
    p += 32;
  }
  return string_detail::find_stop(p, tail_end);
}

// As the SSE2 routine, over 64-byte blocks: the output stays strictly behind
// the source after the first escape, so one stop mask serves all the escapes
// of its block.
uint8_t* read_escaped_string(uint8_t* start, uint8_t* p, const uint8_t* tail_end, JsonValue& out,
                             StringFailure& failure) {
  uint8_t* src = p;
  uint8_t* dst = p;
  if (!take_escape(src, dst, failure)) return nullptr;
  for (;;) {
    // Two blocks readable: the run copy of the block's last stop reads on.
    if (tail_end - src < 128) return unescape_bytewise(start, src, dst, out, failure);
    uint8_t* const base = src;
    const __m256i a = load32(base), b = load32(base + 32);
    uint64_t mask = mask_of(stops_of(a)) | uint64_t{mask_of(stops_of(b))} << 32;
    if (mask == 0) {
      // Overwrites only bytes of this block, which are already loaded.
      store32(dst, a);
      store32(dst + 32, b);
      dst += 64;
      src += 64;
      continue;
    }
    for (;;) {
      uint8_t* const stop = base + __builtin_ctzll(mask);
      const size_t run = static_cast<size_t>(stop - src);
      copy_run(dst, src, run);
      dst += run;
      src = stop;
      if (*src != '\\') return end_escaped(start, src, dst, out, failure);
      if (!take_escape(src, dst, failure)) return nullptr;
      const size_t offset = static_cast<size_t>(src - base);
      if (offset >= 64) break;
      mask &= ~uint64_t{0} << offset;
      if (mask == 0) break;
    }
  }
}

}  // namespace vellum::VELLUM_VARIANT(avx2)
VELLUM_TARGET_END
