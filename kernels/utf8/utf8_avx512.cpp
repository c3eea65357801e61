#include "base/simd/variant.hpp"

// The shape of UTF-8 text with 64-byte vectors: one pass for the largest
// byte, and a counting pass only for text that is not ASCII. Validation and
// the count are the AVX2 form's.
#include "kernels/utf8/utf8_routines.hpp"

namespace vellum::VELLUM_VARIANT(avx2) {
bool validate_utf8(const uint8_t* p, size_t n);
size_t count_utf8_chars(const uint8_t* p, size_t n);
}  // namespace vellum::VELLUM_VARIANT(avx2)

VELLUM_TARGET_AVX512_BEGIN
namespace vellum::VELLUM_VARIANT(avx512) {
namespace {

inline __m512i load(const uint8_t* p) { return _mm512_loadu_si512(p); }
// The r < 64 bytes at p; the other lanes read as zero, which is neither a
// continuation byte nor larger than anything.
inline __m512i load_first(const uint8_t* p, size_t r) {
  return _mm512_maskz_loadu_epi8(_bzhi_u64(~uint64_t{0}, static_cast<unsigned>(r)), p);
}

// Continuation bytes are exactly those below -64 as signed bytes.
inline unsigned continuations(__m512i v) {
  return static_cast<unsigned>(__builtin_popcountll(_mm512_cmplt_epi8_mask(v, _mm512_set1_epi8(-64))));
}

}  // namespace

Utf8Shape utf8_shape(const uint8_t* p, size_t n) {
  __m512i m = _mm512_setzero_si512();
  size_t i = 0;
  for (; i + 256 <= n; i += 256)
    m = _mm512_max_epu8(m, _mm512_max_epu8(_mm512_max_epu8(load(p + i), load(p + i + 64)),
                                           _mm512_max_epu8(load(p + i + 128), load(p + i + 192))));
  for (; i + 64 <= n; i += 64) m = _mm512_max_epu8(m, load(p + i));
  if (i < n) m = _mm512_max_epu8(m, load_first(p + i, n - i));
  if (_mm512_movepi8_mask(m) == 0) return {n, 0x7F};

  size_t cont = 0;
  i = 0;
  for (; i + 256 <= n; i += 256)
    cont += continuations(load(p + i)) + continuations(load(p + i + 64)) + continuations(load(p + i + 128)) +
            continuations(load(p + i + 192));
  for (; i + 64 <= n; i += 64) cont += continuations(load(p + i));
  if (i < n) cont += continuations(load_first(p + i, n - i));

  const uint32_t max_char = _mm512_cmpge_epu8_mask(m, _mm512_set1_epi8(static_cast<char>(0xF0)))   ? 0x10FFFF
                            : _mm512_cmpge_epu8_mask(m, _mm512_set1_epi8(static_cast<char>(0xC4))) ? 0xFFFF
                                                                                                    : 0xFF;
  return {n - cont, max_char};
}

template <>
const Utf8Routines& routines<Utf8Routines>() {
  static constexpr Utf8Routines Table{&VELLUM_VARIANT(avx2)::validate_utf8, &VELLUM_VARIANT(avx2)::count_utf8_chars,
                                      &utf8_shape, &portable::utf8_decode};
  return Table;
}

}  // namespace vellum::VELLUM_VARIANT(avx512)
VELLUM_TARGET_END
