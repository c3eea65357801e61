// The 16-byte escaper. SSE2 is part of x86-64, so this form runs anywhere.
#include "src/serialize/escape/escape.hpp"

#include <emmintrin.h>

#include <cstring>

#include "src/serialize/escape/escape_table.hpp"

namespace vellum {
namespace {

struct Classifier {
  __m128i backslash = _mm_set1_epi8(0x5C);
  __m128i flip = _mm_set1_epi8(0x02);
  __m128i limit = _mm_set1_epi8(0x20);

  // 0xFF in every lane that needs escaping. Flipping bit 1 maps the control
  // bytes onto themselves and the quote onto 0x20, so one unsigned "at most
  // 0x20" (min(x, 0x20) == x; SSE2 compares are signed) covers both.
  __m128i special(__m128i v) const {
    const __m128i x = _mm_xor_si128(v, flip);
    return _mm_or_si128(_mm_cmpeq_epi8(v, backslash), _mm_cmpeq_epi8(_mm_min_epu8(x, limit), x));
  }
  unsigned mask(__m128i v) const { return static_cast<unsigned>(_mm_movemask_epi8(special(v))); }
};

inline __m128i load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

inline uint8_t* put_byte(uint8_t* out, uint8_t b) {
  *out = b;
  return needs_escape_table[b] ? write_escape(out, b) : out + 1;
}

// Copies the n bytes (one or two words' worth) when none needs escaping.
template <typename Word>
inline bool copy_if_clean(uint8_t* out, const uint8_t* src, size_t n) {
  Word head, tail;
  std::memcpy(&head, src, sizeof(Word));
  std::memcpy(&tail, src + n - sizeof(Word), sizeof(Word));
  if (Classifier().mask(_mm_set_epi64x(static_cast<int64_t>(tail), static_cast<int64_t>(head))) != 0) return false;
  std::memcpy(out, &head, sizeof(Word));
  std::memcpy(out + n - sizeof(Word), &tail, sizeof(Word));
  return true;
}

// Strings shorter than one block.
uint8_t* escape_short(uint8_t* out, const uint8_t* src, size_t n) {
  size_t i = 0;
  for (; i + 2 <= n; i += 2) {
    out = put_byte(out, src[i]);
    out = put_byte(out, src[i + 1]);
  }
  if (i < n) out = put_byte(out, src[i]);
  return out;
}

}  // namespace

size_t escape_sse2(uint8_t* dst, const uint8_t* src, size_t n) {
  uint8_t* out = dst;
  *out++ = '"';
  if (n < 16) {
    // Short strings without escapes, the most common case: two overlapping
    // words cover them.
    if (n >= 8 ? copy_if_clean<uint64_t>(out, src, n) : n >= 4 && copy_if_clean<uint32_t>(out, src, n)) {
      out[n] = '"';
      return n + 2;
    }
    out = escape_short(out, src, n);
    *out++ = '"';
    return static_cast<size_t>(out - dst);
  }

  const Classifier cls;
  if (n < 32) {
    // The same for up to two overlapping blocks.
    const __m128i head = load(src), tail = load(src + n - 16);
    if (_mm_movemask_epi8(_mm_or_si128(cls.special(head), cls.special(tail))) == 0) {
      store(out, head);
      store(out + n - 16, tail);
      out[n] = '"';
      return n + 2;
    }
  }
  const uint8_t* s = src;
  const uint8_t* const end = src + n;
  for (;;) {
    const size_t left = static_cast<size_t>(end - s);
    if (left >= 64) {
      // Long clean runs are the common case: test four blocks per branch.
      const __m128i a = load(s), b = load(s + 16), c = load(s + 32), d = load(s + 48);
      const __m128i any = _mm_or_si128(_mm_or_si128(cls.special(a), cls.special(b)),
                                       _mm_or_si128(cls.special(c), cls.special(d)));
      if (_mm_movemask_epi8(any) == 0) {
        store(out, a);
        store(out + 16, b);
        store(out + 32, c);
        store(out + 48, d);
        s += 64;
        out += 64;
        continue;
      }
    } else if (left < 32) {
      break;
    }
    // With a whole block readable after this one, every escape of the block
    // is handled from its mask: the bytes after each escape are reloaded
    // from the source and stored after the escape text.
    const __m128i v = load(s);
    store(out, v);
    unsigned m = cls.mask(v);
    size_t done = 0;
    while (m != 0) {
      const unsigned i = static_cast<unsigned>(__builtin_ctz(m));
      out = write_escape(out + (i - done), s[i]);
      done = i + 1;
      store(out, load(s + done));
      m &= m - 1;
    }
    out += 16 - done;
    s += 16;
  }

  // Fewer than 32 bytes left: the next block starts right after an escape.
  while (end - s >= 16) {
    const __m128i v = load(s);
    store(out, v);
    const unsigned m = cls.mask(v);
    if (m == 0) {
      s += 16;
      out += 16;
      continue;
    }
    const unsigned i = static_cast<unsigned>(__builtin_ctz(m));
    out = write_escape(out + i, s[i]);
    s += i + 1;
  }

  // Tail: the last 16 source bytes sit in a scratch area followed by harmless
  // filler, so the r remaining bytes can be handled as one block without
  // reading past the source.
  const size_t r = static_cast<size_t>(end - s);
  if (r != 0) {
    alignas(16) uint8_t scratch[32];
    std::memcpy(scratch, end - 16, 16);
    std::memset(scratch + 16, 'a', 16);
    const uint8_t* t = scratch + 16 - r;
    store(out, load(t));
    unsigned m = cls.mask(load(t));
    size_t done = 0;
    while (m != 0) {
      const unsigned i = static_cast<unsigned>(__builtin_ctz(m));
      out = write_escape(out + (i - done), t[i]);
      done = i + 1;
      store(out, load(t + done));
      m &= m - 1;
    }
    out += r - done;
  }
  *out++ = '"';
  return static_cast<size_t>(out - dst);
}

}  // namespace vellum
