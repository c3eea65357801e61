#include "src/simd/variant.hpp"

// The 32-byte escaper for processors with AVX-512VL and AVX-512BW. Short
// strings and tails use masked loads, which read nothing outside the source.
#include "src/serialize/escape/escape.hpp"
#include "src/serialize/escape/escape_table.hpp"

VELLUM_TARGET_AVX512_BEGIN
namespace vellum::VELLUM_VARIANT(avx512) {
namespace {

struct Classifier {
  __m256i backslash, flip, limit;

  // Written out so that it is compiled for the target of this file.
  Classifier() : backslash(_mm256_set1_epi8(0x5C)), flip(_mm256_set1_epi8(0x02)), limit(_mm256_set1_epi8(0x20)) {}

  // Flipping bit 1 maps the control bytes onto themselves and the quote onto
  // 0x20, so one unsigned "at most 0x20" covers both.
  uint32_t mask(__m256i v) const {
    return static_cast<uint32_t>(_mm256_cmpeq_epi8_mask(v, backslash)) |
           static_cast<uint32_t>(_mm256_cmple_epu8_mask(_mm256_xor_si256(v, flip), limit));
  }

  // The same test in vector registers, for whole clean runs: it keeps the
  // mask-compare port free and folds the results with one three-way OR.
  __m256i special(__m256i acc, __m256i v) const {
    const __m256i x = _mm256_xor_si256(v, flip);
    return _mm256_ternarylogic_epi32(acc, _mm256_cmpeq_epi8(v, backslash),
                                     _mm256_cmpeq_epi8(_mm256_min_epu8(x, limit), x), 0xFE);
  }
};

inline __m256i load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
inline void store(uint8_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
inline uint32_t lanes(size_t r) { return _bzhi_u32(0xFFFFFFFFu, static_cast<unsigned>(r)); }
inline __m256i load_first(const uint8_t* p, size_t r) { return _mm256_maskz_loadu_epi8(lanes(r), p); }

}  // namespace

size_t escape_string(uint8_t* dst, const uint8_t* src, size_t n) {
  uint8_t* out = dst;
  *out++ = '"';
  const Classifier cls;
  if (n < 32) {
    // Short strings without escapes, the most common case, in one step (the
    // empty one would store past its reservation).
    if (n != 0) {
      const __m256i v = load_first(src, n);
      store(out, v);
      if ((cls.mask(v) & lanes(n)) == 0) {
        out[n] = '"';
        return n + 2;
      }
    }
  } else if (n <= 64) {
    // The same for two overlapping blocks.
    const __m256i head = load(src), tail = load(src + n - 32);
    const __m256i any = cls.special(cls.special(_mm256_setzero_si256(), head), tail);
    if (_mm256_movemask_epi8(any) == 0) {
      store(out, head);
      store(out + n - 32, tail);
      out[n] = '"';
      return n + 2;
    }
  }
  const uint8_t* s = src;
  const uint8_t* const end = src + n;
  for (;;) {
    const size_t left = static_cast<size_t>(end - s);
    if (left >= 128) {
      // Long clean runs are the common case: test four blocks per branch.
      const __m256i a = load(s), b = load(s + 32), c = load(s + 64), d = load(s + 96);
      const __m256i any = cls.special(cls.special(cls.special(cls.special(_mm256_setzero_si256(), a), b), c), d);
      if (_mm256_movemask_epi8(any) == 0) {
        store(out, a);
        store(out + 32, b);
        store(out + 64, c);
        store(out + 96, d);
        s += 128;
        out += 128;
        continue;
      }
    } else if (left < 64) {
      break;
    }
    // With a whole block readable after this one, every escape of the block
    // is handled from its mask: the bytes after each escape are reloaded
    // from the source and stored after the escape text.
    const __m256i v = load(s);
    store(out, v);
    uint32_t m = cls.mask(v);
    size_t done = 0;
    while (m != 0) {
      const unsigned i = static_cast<unsigned>(__builtin_ctz(m));
      out = write_escape(out + (i - done), s[i]);
      done = i + 1;
      store(out, load(s + done));
      m &= m - 1;
    }
    out += 32 - done;
    s += 32;
  }

  // The last bytes (or a whole short string), at most two blocks: lanes
  // beyond the r bytes of a block read as zero and are left out of its mask.
  while (s < end) {
    const size_t left = static_cast<size_t>(end - s);
    const size_t r = left < 32 ? left : 32;
    const __m256i v = load_first(s, r);
    store(out, v);
    uint32_t m = cls.mask(v) & lanes(r);
    size_t done = 0;
    while (m != 0) {
      const unsigned i = static_cast<unsigned>(__builtin_ctz(m));
      out = write_escape(out + (i - done), s[i]);
      done = i + 1;
      if (done < r) store(out, load_first(s + done, r - done));
      m &= m - 1;
    }
    out += r - done;
    s += r;
  }
  *out++ = '"';
  return static_cast<size_t>(out - dst);
}

}  // namespace vellum::VELLUM_VARIANT(avx512)
VELLUM_TARGET_END
