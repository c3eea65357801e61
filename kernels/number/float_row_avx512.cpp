// GCC 12 takes the placeholder operand inside its own 512-bit intrinsics for
// an uninitialized value once they are inlined into this file's loops (fixed
// in GCC 13).
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ < 13
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "base/simd/variant.hpp"

// Rows of floats on AVX-512: the shortest digits of eight regular values at
// once, one value per 64-bit lane, by the scalar search's own arithmetic (the
// same product with the rounded-up power of ten, the same verdict), and their
// digits converted in the same lanes; each text is then placed by the scalar
// formatter's layout code. The values the fast search leaves to the general
// one (integers, zeros, subnormals, the first value of each binade,
// infinities, NaNs, products too close to a threshold) go to the scalar
// formatter whole.
#include <bit>
#include <cstring>

#include "kernels/number/float_row.hpp"
#include "kernels/number/format.hpp"

VELLUM_TARGET_AVX512_BEGIN
namespace vellum::VELLUM_VARIANT(avx512) {
namespace {

using number::DoubleLayout;
using number::SingleLayout;

inline __m512i splat(uint64_t v) { return _mm512_set1_epi64(static_cast<long long>(v)); }

// Unsigned a < b in each lane.
inline simd::mask8 less(__m512i a, __m512i b) { return static_cast<simd::mask8>(~_mm512_cmpge_epu64_mask(a, b)); }

inline __m512i times_10(__m512i x) { return _mm512_add_epi64(_mm512_slli_epi64(x, 3), _mm512_slli_epi64(x, 1)); }

inline __m512i plus_one(__m512i x, simd::mask8 where) { return _mm512_mask_add_epi64(x, where, x, splat(1)); }

// The high word of each lane's 128-bit product, from 32-bit partial products.
inline __m512i mulhi_u64(__m512i a, __m512i b) {
  const __m512i low = splat(0xFFFFFFFF);
  const __m512i ah = _mm512_srli_epi64(a, 32);
  const __m512i bh = _mm512_srli_epi64(b, 32);
  const __m512i ll = _mm512_mul_epu32(a, b);
  const __m512i lh = _mm512_mul_epu32(a, bh);
  const __m512i hl = _mm512_mul_epu32(ah, b);
  const __m512i hh = _mm512_mul_epu32(ah, bh);
  const __m512i mid = _mm512_add_epi64(_mm512_add_epi64(_mm512_srli_epi64(ll, 32), _mm512_and_si512(lh, low)),
                                       _mm512_and_si512(hl, low));
  return _mm512_add_epi64(_mm512_add_epi64(hh, _mm512_srli_epi64(mid, 32)),
                          _mm512_add_epi64(_mm512_srli_epi64(lh, 32), _mm512_srli_epi64(hl, 32)));
}

// (x * factor) >> Shift of small signed lanes (|x * factor| < 2^31), as the
// scalar logarithms compute it: shifted from an offset that keeps it
// non-negative, so that a logical shift floors.
template <int Shift>
inline __m512i scaled_floor(__m512i x, int factor) {
  const __m512i product = _mm512_add_epi64(_mm512_mul_epi32(x, _mm512_set1_epi64(factor)), splat(uint64_t{1} << 31));
  return _mm512_sub_epi64(_mm512_srli_epi64(product, Shift), splat(uint64_t{1} << (31 - Shift)));
}

// The digits of each lane's x < 10^8 as byte values 0..9, the first in the
// lowest byte: eight_digit_values lane by lane.
inline __m512i eight_digit_lanes(__m512i x) {
  // 32-bit halves of four digits: x / 10^4 == x * 3518437209 >> 45.
  const __m512i q4 = _mm512_srli_epi64(_mm512_mul_epu32(x, splat(3518437209u)), 45);
  const __m512i v4 = _mm512_or_si512(q4, _mm512_slli_epi64(_mm512_sub_epi64(x, _mm512_mul_epu32(q4, splat(10000))), 32));
  // 16-bit quarters of two digits: v / 100 == v * 5243 >> 19 for v < 10^4.
  const __m512i q2 = _mm512_srli_epi32(_mm512_mullo_epi32(v4, _mm512_set1_epi32(5243)), 19);
  const __m512i v2 =
      _mm512_or_si512(q2, _mm512_slli_epi32(_mm512_sub_epi32(v4, _mm512_mullo_epi32(q2, _mm512_set1_epi32(100))), 16));
  // Bytes: v / 10 == v * 103 >> 10 for v < 100.
  const __m512i q1 = _mm512_srli_epi16(_mm512_mullo_epi16(v2, _mm512_set1_epi16(103)), 10);
  return _mm512_or_si512(q1,
                         _mm512_slli_epi16(_mm512_sub_epi16(v2, _mm512_mullo_epi16(q1, _mm512_set1_epi16(10))), 8));
}

// settle() lane by lane: the digits m of the lanes' verdicts, and the lanes
// too close to call.
template <uint64_t Margin>
inline __m512i settle(__m512i n, __m512i f, __m512i half, simd::mask8& close) {
  // f * 10 + 1/2 as two words: the rest and the next digit, rounded.
  const __m512i f8 = _mm512_slli_epi64(f, 3);
  const __m512i tenfold = _mm512_add_epi64(f8, _mm512_slli_epi64(f, 1));
  const __m512i tenfold_hi = plus_one(_mm512_add_epi64(_mm512_srli_epi64(f, 61), _mm512_srli_epi64(f, 63)), less(tenfold, f8));
  const __m512i rest = _mm512_xor_si512(tenfold, splat(uint64_t{1} << 63));
  const __m512i rounded = _mm512_add_epi64(tenfold_hi, _mm512_srli_epi64(tenfold, 63));
  const __m512i margin = splat(Margin);
  const __m512i a = _mm512_add_epi64(_mm512_sub_epi64(f, half), margin);
  const __m512i b = _mm512_add_epi64(_mm512_add_epi64(f, half), margin);
  const __m512i c = _mm512_add_epi64(rest, margin);
  close = less(_mm512_min_epu64(_mm512_min_epu64(a, b), c), splat(2 * Margin));
  const simd::mask8 below = less(f, half);
  const simd::mask8 above = less(_mm512_xor_si512(half, splat(~uint64_t{0})), f);
  const __m512i shorter = times_10(plus_one(n, above));
  const __m512i nearest = _mm512_add_epi64(times_10(n), rounded);
  return _mm512_mask_blend_epi64(below | above, nearest, shorter);
}

// The fast search's answer for eight values given as their bits without
// sign: m * 10^k where it gives one, and the lanes it leaves.
struct Lanes {
  __m512i m;
  __m512i k;
  simd::mask8 scalar;
};

template <class Layout>
inline Lanes shortest_lanes(__m512i magnitude) {
  constexpr int M = Layout::SignificandBits;
  const __m512i zero = _mm512_setzero_si512();
  const __m512i one = splat(1);
  const __m512i biased = _mm512_srli_epi64(magnitude, M);
  const __m512i fraction = _mm512_and_si512(magnitude, splat((uint64_t{1} << M) - 1));
  const __m512i c = _mm512_or_si512(fraction, splat(uint64_t{1} << M));
  const __m512i minus_q = _mm512_sub_epi64(splat(Layout::ExponentShift), biased);
  // As shortest_decimal_of: integers below 2^(M+1); zeros and subnormals,
  // the first value of each binade, infinities and NaNs.
  const simd::mask8 integral = _mm512_cmple_epu64_mask(minus_q, splat(M)) &
                            _mm512_testn_epi64_mask(c, _mm512_sub_epi64(_mm512_sllv_epi64(one, minus_q), one));
  const simd::mask8 irregular = _mm512_cmpeq_epi64_mask(biased, zero) |
                             _mm512_cmpeq_epi64_mask(biased, splat(Layout::ExponentMask)) |
                             _mm512_cmpeq_epi64_mask(fraction, zero);
  const simd::mask8 regular = static_cast<simd::mask8>(~(integral | irregular));

  const __m512i q = _mm512_sub_epi64(zero, minus_q);
  const __m512i k = scaled_floor<20>(q, 315653);  // floor_log10_pow2
  const __m512i power = _mm512_sub_epi64(splat(~uint64_t{0}), k);  // -k - 1
  const __m512i log2 = scaled_floor<19>(power, 1741647);  // floor_log2_pow10
  // Each entry is two words, hi then lo; only the regular lanes are read.
  const __m512i index = _mm512_slli_epi64(_mm512_sub_epi64(power, splat(number::RoundedPow10Min)), 1);
  const auto* table = reinterpret_cast<const long long*>(number::pow10_rounded_up.data());
  const __m512i g_hi = _mm512_mask_i64gather_epi64(zero, regular, index, table, 8);
  __m512i n, f, half;
  if constexpr (std::is_same_v<Layout, DoubleLayout>) {
    const __m512i s = _mm512_add_epi64(_mm512_add_epi64(q, log2), splat(11));
    const __m512i g_lo = _mm512_mask_i64gather_epi64(zero, regular, index, table + 1, 8);
    const __m512i cs = _mm512_sllv_epi64(c, s);
    const __m512i carry = mulhi_u64(g_lo, cs);
    const __m512i top_lo = _mm512_add_epi64(_mm512_mullo_epi64(g_hi, cs), carry);
    const __m512i top_hi = plus_one(mulhi_u64(g_hi, cs), less(top_lo, carry));
    n = _mm512_srli_epi64(top_hi, 10);
    f = _mm512_or_si512(_mm512_slli_epi64(top_hi, 54), _mm512_srli_epi64(top_lo, 10));
    half = _mm512_srlv_epi64(g_hi, _mm512_sub_epi64(splat(11), s));
  } else {
    const __m512i s = _mm512_add_epi64(_mm512_add_epi64(q, log2), splat(33));
    const __m512i g = _mm512_add_epi64(g_hi, one);
    const __m512i cs = _mm512_sllv_epi64(c, s);
    const __m512i p_hi = mulhi_u64(g, cs);
    n = _mm512_srli_epi64(p_hi, 32);
    f = _mm512_or_si512(_mm512_slli_epi64(p_hi, 32), _mm512_srli_epi64(_mm512_mullo_epi64(g, cs), 32));
    half = _mm512_srlv_epi64(g, _mm512_sub_epi64(splat(33), s));
  }
  simd::mask8 close;
  const __m512i m = settle<std::is_same_v<Layout, DoubleLayout> ? 64 : uint64_t{1} << 32>(n, f, half, close);
  return {m, k, static_cast<simd::mask8>(~regular | close)};
}

// x / 10^8 for x < 10^9: x * ceil(2^58 / 10^8) >> 58, exact in that range.
inline __m512i first_of_nine(__m512i x) { return _mm512_srli_epi64(_mm512_mul_epu32(x, splat(2882303762u)), 58); }

// Eight doubles' texts in pieces, as write_decimal_17 widens them: the first
// digit, the sixteen others, which of those are not zero, and the first
// digit's exponent; `scalar`, the values left to the scalar formatter.
struct DoubleTexts {
  using Word = uint64_t;
  static constexpr size_t Width = 8;

  alignas(64) uint8_t others[8][16];
  alignas(64) uint64_t first[8];
  alignas(64) int64_t exponent[8];
  uint16_t nonzero[8];
  uint32_t scalar;

  void convert(__m512i bits) {
    const Lanes lanes = shortest_lanes<DoubleLayout>(_mm512_and_si512(bits, splat(~uint64_t{0} >> 1)));
    // The fast search's digits are 16 or 17 long.
    const simd::mask8 sixteen = less(lanes.m, splat(10000000000000000u));
    const __m512i wide = _mm512_mask_blend_epi64(sixteen, lanes.m, times_10(lanes.m));
    const __m512i e =
        _mm512_sub_epi64(_mm512_add_epi64(lanes.k, splat(16)), _mm512_maskz_mov_epi64(sixteen, splat(1)));
    // wide / 10^8 for wide < 10^17: the high word of wide * ceil(2^90 / 10^8), >> 26.
    const __m512i upper9 = _mm512_srli_epi64(mulhi_u64(wide, splat(0xABCC77118461CEFDu)), 26);
    const __m512i high = first_of_nine(upper9);
    const __m512i high8 = _mm512_sub_epi64(upper9, _mm512_mul_epu32(high, splat(100000000)));
    const __m512i low8 = _mm512_sub_epi64(wide, _mm512_mullo_epi64(upper9, splat(100000000)));
    // 128 bits per value, in value order: its high eight digits, then its low.
    const __m512i values_a =
        eight_digit_lanes(_mm512_permutex2var_epi64(high8, _mm512_setr_epi64(0, 8, 1, 9, 2, 10, 3, 11), low8));
    const __m512i values_b =
        eight_digit_lanes(_mm512_permutex2var_epi64(high8, _mm512_setr_epi64(4, 12, 5, 13, 6, 14, 7, 15), low8));
    const uint64_t masks[2] = {_mm512_test_epi8_mask(values_a, values_a), _mm512_test_epi8_mask(values_b, values_b)};
    std::memcpy(nonzero, masks, sizeof masks);
    const __m512i zeros = _mm512_set1_epi8('0');
    _mm512_store_si512(others[0], _mm512_add_epi8(values_a, zeros));
    _mm512_store_si512(others[4], _mm512_add_epi8(values_b, zeros));
    _mm512_store_si512(first, high);
    _mm512_store_si512(exponent, e);
    scalar = lanes.scalar;
  }

  uint8_t* place(uint8_t* dst, size_t l) const {
    return number::place_decimal_17(dst, static_cast<uint8_t>('0' + first[l]),
                                    _mm_load_si128(reinterpret_cast<const __m128i*>(others[l])),
                                    17 - std::countl_zero(nonzero[l]), static_cast<int>(exponent[l]));
  }

  // Out of the loop: only the values the fast search leaves come here.
  [[gnu::noinline]] static uint8_t* format(uint8_t* dst, Word bits) {
    return number::format_float<DoubleLayout, number::write_decimal_17>(dst, bits);
  }
};

// Sixteen singles' texts in pieces, as write_decimal_9 widens them: the
// first digit, the eight others (byte values) and the first digit's
// exponent; two halves of eight lanes.
struct SingleTexts {
  using Word = uint32_t;
  static constexpr size_t Width = 16;

  alignas(64) uint64_t others[16];
  alignas(64) uint64_t first[16];
  alignas(64) int64_t exponent[16];
  uint32_t scalar;

  void convert(__m512i bits) {
    const __m512i low_halves = splat(0xFFFFFFFF);
    const __m512i front = _mm512_and_si512(
        _mm512_permutexvar_epi32(_mm512_setr_epi32(0, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0), bits), low_halves);
    const __m512i back = _mm512_and_si512(
        _mm512_permutexvar_epi32(_mm512_setr_epi32(8, 0, 9, 0, 10, 0, 11, 0, 12, 0, 13, 0, 14, 0, 15, 0), bits),
        low_halves);
    scalar = convert_half(front, 0) | convert_half(back, 8) << 8;
  }

  // Eight singles, in the low halves of the lanes, into the pieces from `at`.
  uint32_t convert_half(__m512i bits, size_t at) {
    const Lanes lanes = shortest_lanes<SingleLayout>(_mm512_and_si512(bits, splat(0x7FFFFFFF)));
    // The fast search's digits are 7 to 9 long.
    const simd::mask8 short8 = less(lanes.m, splat(100000000));
    const simd::mask8 short7 = less(lanes.m, splat(10000000));
    const __m512i m10 = _mm512_mask_blend_epi64(short8, lanes.m, times_10(lanes.m));
    const __m512i wide = _mm512_mask_blend_epi64(short7, m10, times_10(m10));
    const __m512i e = _mm512_sub_epi64(_mm512_add_epi64(lanes.k, splat(8)),
                                       _mm512_add_epi64(_mm512_maskz_mov_epi64(short8, splat(1)),
                                                        _mm512_maskz_mov_epi64(short7, splat(1))));
    const __m512i high = first_of_nine(wide);
    _mm512_store_si512(others + at,
                       eight_digit_lanes(_mm512_sub_epi64(wide, _mm512_mul_epu32(high, splat(100000000)))));
    _mm512_store_si512(first + at, high);
    _mm512_store_si512(exponent + at, e);
    return lanes.scalar;
  }

  uint8_t* place(uint8_t* dst, size_t l) const {
    return number::place_decimal_9(dst, static_cast<uint8_t>('0' + first[l]), others[l] + number::AsciiZeros,
                                   9 - number::trailing_zero_digits(others[l]), static_cast<int>(exponent[l]));
  }

  [[gnu::noinline]] static uint8_t* format(uint8_t* dst, Word bits) {
    return number::format_float<SingleLayout, number::write_decimal_9>(dst, bits);
  }
};

// A block of Texts::Width values at a time (the last one zero-filled), each
// placed from its pieces or formatted whole, then followed by the separator.
template <class Texts>
[[gnu::flatten]] uint8_t* row(uint8_t* dst, const uint8_t* src, size_t n, Separator separator) {
  using Word = typename Texts::Word;
  constexpr size_t Width = Texts::Width;
  Texts texts;
  for (size_t i = 0; i < n; i += Width) {
    const size_t count = n - i < Width ? n - i : Width;
    __m512i block;
    if (count == Width) {
      block = _mm512_loadu_si512(src + sizeof(Word) * i);
    } else {
      alignas(64) Word last[Width] = {};
      std::memcpy(last, src + sizeof(Word) * i, sizeof(Word) * count);
      block = _mm512_load_si512(last);
    }
    alignas(64) Word words[Width];
    _mm512_store_si512(words, block);
    texts.convert(block);
    for (size_t l = 0; l < count; ++l) {
      if ((texts.scalar >> l) & 1) [[unlikely]] {
        dst = Texts::format(dst, words[l]);
      } else {
        *dst = '-';
        dst += words[l] >> (8 * sizeof(Word) - 1);
        dst = texts.place(dst, l);
      }
      dst = put_separator(dst, separator);
    }
  }
  return dst;
}

}  // namespace

template <>
const FloatRowRoutines& routines<FloatRowRoutines>() {
  static constexpr FloatRowRoutines Table{&row<DoubleTexts>, &row<SingleTexts>};
  return Table;
}

}  // namespace vellum::VELLUM_VARIANT(avx512)
VELLUM_TARGET_END
