#include "base/simd/variant.hpp"

// The 32-byte escaper for processors with AVX-512VL and AVX-512BW. Short
// strings and tails use masked loads, which read nothing outside the source.
#include "kernels/escape/escape.hpp"
#include "kernels/escape/escape_table.hpp"

VELLUM_TARGET_AVX512_BEGIN
namespace vellum::VELLUM_VARIANT(avx512) {
#include "base/simd/block32.hpp"
#include "base/simd/string_specials.hpp"
#include "kernels/escape/escape_generic.hpp"

namespace {

inline uint32_t lanes(size_t r) { return _bzhi_u32(0xFFFFFFFFu, static_cast<unsigned>(r)); }
// The first r < 32 bytes at p; the other lanes read as zero.
inline Block32 load_first(const uint8_t* p, size_t r) { return {_mm256_maskz_loadu_epi8(lanes(r), p)}; }

}  // namespace

size_t escape_string(uint8_t* dst, const uint8_t* src, size_t n) {
  uint8_t* out = dst;
  *out++ = '"';
  if (n < 32) {
    // Short strings without escapes, the most common case, in one step (the
    // empty one would store past its reservation).
    if (n != 0) {
      const Block32 v = load_first(src, n);
      v.store(out);
      if ((string_specials(v).bits() & lanes(n)) == 0) {
        out[n] = '"';
        return n + 2;
      }
    }
  } else if (n <= 64 && copy_if_clean<Block32>(out, src, n)) {
    out[n] = '"';
    return n + 2;
  }

  const uint8_t* s = src;
  const uint8_t* const end = src + n;
  escape_blocks<Block32>(out, s, end);

  // The last bytes (or a whole short string), at most two blocks: lanes
  // beyond the r bytes of a block read as zero and are left out of its mask.
  while (s < end) {
    const size_t left = static_cast<size_t>(end - s);
    const size_t r = left < 32 ? left : 32;
    const Block32 v = load_first(s, r);
    v.store(out);
    out = put_escapes(out, s, string_specials(v).bits() & lanes(r), r, [s, r](uint8_t* o, size_t done) {
      if (done < r) load_first(s + done, r - done).store(o);
    });
    s += r;
  }
  *out++ = '"';
  return static_cast<size_t>(out - dst);
}

template <>
const EscapeRoutines& routines<EscapeRoutines>() {
  static constexpr EscapeRoutines Table{&escape_string};
  return Table;
}

}  // namespace vellum::VELLUM_VARIANT(avx512)
VELLUM_TARGET_END
