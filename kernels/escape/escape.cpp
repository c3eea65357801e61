// The portable escaper, 16-byte SSE2 blocks (SSE2 is part of x86-64), and
// the list of forms.
#include "kernels/escape/escape.hpp"

#include <cstring>

#include "base/cpu_features.hpp"
#include "base/simd/portable.hpp"
#include "kernels/escape/escape_table.hpp"

namespace vellum::portable {
#include "kernels/escape/escape_generic.hpp"

namespace {

inline uint8_t* put_byte(uint8_t* out, uint8_t b) {
  *out = b;
  return NeedsEscapeTable[b] ? write_escape(out, b) : out + 1;
}

// Copies the n bytes (one or two words' worth) when none needs escaping.
template <typename Word>
inline bool copy_words_if_clean(uint8_t* out, const uint8_t* src, size_t n) {
  Word head, tail;
  std::memcpy(&head, src, sizeof(Word));
  std::memcpy(&tail, src + n - sizeof(Word), sizeof(Word));
  const Block16 both{_mm_set_epi64x(static_cast<int64_t>(tail), static_cast<int64_t>(head))};
  if (string_specials(both).bits() != 0) return false;
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

size_t escape_string(uint8_t* dst, const uint8_t* src, size_t n) {
  uint8_t* out = dst;
  *out++ = '"';
  if (n < 16) {
    // Short strings without escapes, the most common case: two overlapping
    // words cover them.
    if (n >= 8 ? copy_words_if_clean<uint64_t>(out, src, n) : n >= 4 && copy_words_if_clean<uint32_t>(out, src, n)) {
      out[n] = '"';
      return n + 2;
    }
    out = escape_short(out, src, n);
    *out++ = '"';
    return static_cast<size_t>(out - dst);
  }
  if (n <= 32 && copy_if_clean<Block16>(out, src, n)) {
    out[n] = '"';
    return n + 2;
  }

  const uint8_t* s = src;
  const uint8_t* const end = src + n;
  escape_blocks<Block16>(out, s, end);

  // Fewer than 32 bytes left: the next block starts right after an escape.
  while (end - s >= 16) {
    const Block16 v = Block16::load(s);
    v.store(out);
    const Block16::Bits m = string_specials(v).bits();
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
    const Block16 v = Block16::load(t);
    v.store(out);
    out = put_escapes(out, t, string_specials(v).bits(), r,
                      [t](uint8_t* o, size_t done) { Block16::load(t + done).store(o); });
  }
  *out++ = '"';
  return static_cast<size_t>(out - dst);
}

template <>
const EscapeRoutines& routines<EscapeRoutines>() {
  static constexpr EscapeRoutines Table{&escape_string};
  return Table;
}

}  // namespace vellum::portable

namespace vellum {

constexpr simd::Form<EscapeRoutines> EscapeForms[] = {
    simd::form<EscapeRoutines, simd::Isa::Avx512>(),
    simd::form<EscapeRoutines, simd::Isa::Portable>(),
};
const std::span<const simd::Form<EscapeRoutines>> escape_forms = EscapeForms;

const EscapeRoutines escape_routines = simd::pick(escape_forms, cpu::selected_features());

}  // namespace vellum
