// Intrinsics that the installed SIMDe release lacks, written lane by lane for
// the test build only. Masked loads and stores touch exactly the selected
// lanes, as the hardware does, so a variant that relies on that to stay
// inside its buffers is checked for it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vellum::simd {
using mask8 = simde__mmask8;
using mask16 = simde__mmask16;
using mask32 = simde__mmask32;
using mask64 = simde__mmask64;

template <typename Vec, int Lanes, typename Mask>
inline Vec masked_load_bytes(Mask keep, const void* src, Vec fallback) {
  uint8_t lanes[Lanes];
  std::memcpy(lanes, &fallback, Lanes);
  const auto* p = static_cast<const uint8_t*>(src);
  for (int i = 0; i < Lanes; ++i)
    if ((keep >> i) & 1) lanes[i] = p[i];
  Vec out;
  std::memcpy(&out, lanes, Lanes);
  return out;
}

template <typename Vec, int Lanes, typename Mask>
inline void masked_store_bytes(void* dst, Mask keep, Vec v) {
  uint8_t lanes[Lanes];
  std::memcpy(lanes, &v, Lanes);
  auto* p = static_cast<uint8_t*>(dst);
  for (int i = 0; i < Lanes; ++i)
    if ((keep >> i) & 1) p[i] = lanes[i];
}
}  // namespace vellum::simd

#ifndef _mm_maskz_loadu_epi8
#define _mm_maskz_loadu_epi8(k, p) \
  (vellum::simd::masked_load_bytes<simde__m128i, 16>((k), (p), simde_mm_setzero_si128()))
#endif
#ifndef _mm_mask_storeu_epi8
#define _mm_mask_storeu_epi8(p, k, v) (vellum::simd::masked_store_bytes<simde__m128i, 16>((p), (k), (v)))
#endif
#ifndef _mm256_maskz_loadu_epi8
#define _mm256_maskz_loadu_epi8(k, p) \
  (vellum::simd::masked_load_bytes<simde__m256i, 32>((k), (p), simde_mm256_setzero_si256()))
#endif
#ifndef _mm256_mask_storeu_epi8
#define _mm256_mask_storeu_epi8(p, k, v) \
  (vellum::simd::masked_store_bytes<simde__m256i, 32>((p), (k), (v)))
#endif
#ifndef _mm512_maskz_loadu_epi8
#define _mm512_maskz_loadu_epi8(k, p) \
  (vellum::simd::masked_load_bytes<simde__m512i, 64>((k), (p), simde_mm512_setzero_si512()))
#endif
#ifndef _mm512_mask_storeu_epi8
#define _mm512_mask_storeu_epi8(p, k, v) \
  (vellum::simd::masked_store_bytes<simde__m512i, 64>((p), (k), (v)))
#endif

#ifndef _bzhi_u32
#define _bzhi_u32(x, n) (vellum::simd::bzhi<uint32_t>((x), (n)))
#endif
#ifndef _bzhi_u64
#define _bzhi_u64(x, n) (vellum::simd::bzhi<uint64_t>((x), (n)))
#endif
#ifndef _mm256_cmpeq_epi8_mask
#define _mm256_cmpeq_epi8_mask(a, b) \
  (static_cast<simde__mmask32>(static_cast<uint32_t>(simde_mm256_movemask_epi8(simde_mm256_cmpeq_epi8((a), (b))))))
#endif

namespace vellum::simd {
template <typename T>
inline T bzhi(T x, unsigned n) {
  n &= 0xff;
  return n >= sizeof(T) * 8 ? x : static_cast<T>(x & ((T{1} << n) - 1));
}
}  // namespace vellum::simd

// SIMDe 0.7.4 defines this function but not its native name.
#ifndef _mm256_cmple_epu8_mask
#define _mm256_cmple_epu8_mask(a, b) simde_mm256_cmple_epu8_mask((a), (b))
#endif

// SIMDe 0.7.4's portable testz answers 1 when either 64-bit half of the AND
// is zero; these look at every byte.
namespace vellum::simd {
template <typename Vec>
inline int all_zero_and(Vec a, Vec b) {
  uint8_t x[sizeof(Vec)], y[sizeof(Vec)];
  std::memcpy(x, &a, sizeof(Vec));
  std::memcpy(y, &b, sizeof(Vec));
  uint8_t any = 0;
  for (size_t i = 0; i < sizeof(Vec); ++i) any |= static_cast<uint8_t>(x[i] & y[i]);
  return any == 0;
}
}  // namespace vellum::simd

#undef _mm_testz_si128
#define _mm_testz_si128(a, b) (vellum::simd::all_zero_and<simde__m128i>((a), (b)))
#undef _mm256_testz_si256
#define _mm256_testz_si256(a, b) (vellum::simd::all_zero_and<simde__m256i>((a), (b)))

// SIMDe 0.7.4's portable half-to-single conversion keeps a signalling NaN
// signalling; the instruction sets the quiet bit, as these do.
namespace vellum::simd {
template <typename Vec>
inline Vec quiet_nans(Vec v) {
  constexpr size_t Lanes = sizeof(Vec) / 4;
  uint32_t lanes[Lanes];
  std::memcpy(lanes, &v, sizeof(Vec));
  for (size_t i = 0; i < Lanes; ++i)
    if ((lanes[i] & 0x7f800000u) == 0x7f800000u && (lanes[i] & 0x7fffffu) != 0) lanes[i] |= 0x400000u;
  std::memcpy(&v, lanes, sizeof(Vec));
  return v;
}
}  // namespace vellum::simd

#undef _mm_cvtph_ps
#define _mm_cvtph_ps(a) (vellum::simd::quiet_nans<simde__m128>(simde_mm_cvtph_ps(a)))
#undef _mm256_cvtph_ps
#define _mm256_cvtph_ps(a) (vellum::simd::quiet_nans<simde__m256>(simde_mm256_cvtph_ps(a)))

// A masked gather of 64-bit words: only the selected lanes are read, as the
// instruction does.
namespace vellum::simd {
inline simde__m512i masked_gather_u64(simde__m512i fallback, mask8 keep, simde__m512i index,
                                      const void* base, int scale) {
  int64_t lanes[8], at[8];
  std::memcpy(lanes, &fallback, sizeof lanes);
  std::memcpy(at, &index, sizeof at);
  for (int i = 0; i < 8; ++i)
    if ((keep >> i) & 1) std::memcpy(&lanes[i], static_cast<const uint8_t*>(base) + at[i] * scale, 8);
  simde__m512i out;
  std::memcpy(&out, lanes, sizeof out);
  return out;
}
}  // namespace vellum::simd

#ifndef _mm512_mask_i64gather_epi64
#define _mm512_mask_i64gather_epi64(src, k, index, base, scale) \
  (vellum::simd::masked_gather_u64((src), (k), (index), (base), (scale)))
#endif

// SIMDe 0.7.4 multiplies 64-bit lanes as signed integers, whose overflow is
// undefined; the instruction keeps the low 64 bits of any product.
namespace vellum::simd {
inline simde__m512i mullo_u64(simde__m512i a, simde__m512i b) {
  uint64_t x[8], y[8];
  std::memcpy(x, &a, sizeof x);
  std::memcpy(y, &b, sizeof y);
  for (int i = 0; i < 8; ++i) x[i] *= y[i];
  simde__m512i out;
  std::memcpy(&out, x, sizeof out);
  return out;
}
}  // namespace vellum::simd

#undef _mm512_mullo_epi64
#define _mm512_mullo_epi64(a, b) (vellum::simd::mullo_u64((a), (b)))
