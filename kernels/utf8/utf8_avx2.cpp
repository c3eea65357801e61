#include "base/simd/variant.hpp"

// The UTF-8 routines with AVX2: validation in 64-byte blocks, the count in
// 32-byte vectors, and the shape from that count.
#include <array>
#include <cstring>

#include "kernels/utf8/utf8_routines.hpp"

// Validation: every byte is judged together with the byte before it: three 16-entry
// lookups (high and low nibble of the previous byte, high nibble of this one)
// each give a set of error bits, and their AND is the set of errors that the
// pair commits. Bits are grouped so that each one stands for a product of
// nibble sets, which is what makes the AND exact. Third and fourth bytes of
// longer sequences are continuations after continuations; those are flagged
// by one bit and cancelled where the byte two or three back requires them.

namespace vellum::VELLUM_VARIANT(avx2) {
namespace {

enum PairError : uint8_t {
  TooShort = 1 << 0,          // a lead byte, then no continuation
  TooLong = 1 << 1,           // ASCII, then a continuation
  Overlong3 = 1 << 2,         // E0 80..9F
  TooLarge = 1 << 3,          // F4 90..BF; F5..FF 90..BF
  Surrogate = 1 << 4,         // ED A0..BF
  Overlong2 = 1 << 5,         // C0..C1, then a continuation
  Overlong4OrTooLarge = 1 << 6,  // F0 80..8F; F5..FF 80..8F
  TwoContinuations = 1 << 7,  // fine only as a third or fourth byte
};

constexpr uint16_t nibbles(unsigned first, unsigned last) {
  uint16_t set = 0;
  for (unsigned v = first; v <= last; ++v) set = static_cast<uint16_t>(set | (1u << v));
  return set;
}

// Each bit's pairs: previous byte's high nibble x its low nibble x this byte's high nibble.
struct PairRule {
  PairError bit;
  uint16_t prev_high;
  uint16_t prev_low;
  uint16_t high;
};

constexpr uint16_t AnyNibble = nibbles(0x0, 0xF);
constexpr uint16_t ContinuationNibbles = nibbles(0x8, 0xB);

constexpr PairRule PairRules[] = {
    {TooShort, nibbles(0xC, 0xF), AnyNibble, static_cast<uint16_t>(nibbles(0x0, 0x7) | nibbles(0xC, 0xF))},
    {TooLong, nibbles(0x0, 0x7), AnyNibble, ContinuationNibbles},
    {Overlong3, nibbles(0xE, 0xE), nibbles(0x0, 0x0), nibbles(0x8, 0x9)},
    {TooLarge, nibbles(0xF, 0xF), nibbles(0x4, 0xF), nibbles(0x9, 0xB)},
    {Surrogate, nibbles(0xE, 0xE), nibbles(0xD, 0xD), nibbles(0xA, 0xB)},
    {Overlong2, nibbles(0xC, 0xC), nibbles(0x0, 0x1), ContinuationNibbles},
    {Overlong4OrTooLarge, nibbles(0xF, 0xF), static_cast<uint16_t>(nibbles(0x0, 0x0) | nibbles(0x5, 0xF)),
     nibbles(0x8, 0x8)},
    {TwoContinuations, ContinuationNibbles, AnyNibble, ContinuationNibbles},
};

struct LookupTables {
  std::array<uint8_t, 16> prev_high{};
  std::array<uint8_t, 16> prev_low{};
  std::array<uint8_t, 16> high{};
};

constexpr LookupTables make_tables() {
  LookupTables t;
  for (const PairRule& r : PairRules) {
    for (unsigned v = 0; v < 16; ++v) {
      if ((r.prev_high >> v) & 1) t.prev_high[v] |= r.bit;
      if ((r.prev_low >> v) & 1) t.prev_low[v] |= r.bit;
      if ((r.high >> v) & 1) t.high[v] |= r.bit;
    }
  }
  return t;
}

constexpr LookupTables Tables = make_tables();

constexpr uint8_t pair_errors(unsigned prev, unsigned cur) {
  return static_cast<uint8_t>(Tables.prev_high[prev >> 4] & Tables.prev_low[prev & 15] & Tables.high[cur >> 4]);
}

// Which pairs may stand next to each other, stated byte by byte.
constexpr bool pair_allowed(unsigned prev, unsigned cur) {
  const bool cont = (cur & 0xC0) == 0x80;
  if (prev < 0x80) return !cont;
  if (prev < 0xC0) return true;  // a continuation: the bytes further back decide
  if (prev < 0xC2 || prev > 0xF4 || !cont) return false;
  if (prev == 0xE0) return cur >= 0xA0;
  if (prev == 0xED) return cur <= 0x9F;
  if (prev == 0xF0) return cur >= 0x90;
  if (prev == 0xF4) return cur <= 0x8F;
  return true;
}

constexpr bool tables_match_pairs() {
  for (unsigned prev = 0; prev < 256; ++prev) {
    for (unsigned cur = 0; cur < 256; ++cur) {
      const uint8_t e = pair_errors(prev, cur);
      const bool both_cont = (prev & 0xC0) == 0x80 && (cur & 0xC0) == 0x80;
      if (((e & ~TwoContinuations) == 0) != pair_allowed(prev, cur)) return false;
      if (((e & TwoContinuations) != 0) != both_cont) return false;
    }
  }
  return true;
}
static_assert(tables_match_pairs(), "lookup tables must flag exactly the forbidden pairs");

}  // namespace
}  // namespace vellum::VELLUM_VARIANT(avx2)

VELLUM_TARGET_AVX2_BEGIN
namespace vellum::VELLUM_VARIANT(avx2) {
#include "base/simd/block32.hpp"
#include "kernels/utf8/utf8_count_generic.hpp"

namespace {

struct BlockState {
  __m256i error;
  __m256i prev_input;       // the 32 bytes before the next block
  __m256i prev_incomplete;  // nonzero if prev_input ends inside a sequence
};

inline __m256i broadcast_table(const std::array<uint8_t, 16>& t) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t.data())));
}

// The bytes N positions back, the tail of `prev` flowing in at the start.
template <int N>
inline __m256i bytes_back(__m256i input, __m256i prev) {
  return _mm256_alignr_epi8(input, _mm256_permute2x128_si256(prev, input, 0x21), 16 - N);
}

inline __m256i check_vector(__m256i input, __m256i prev) {
  const __m256i low_nibble = _mm256_set1_epi8(0x0F);
  const __m256i prev1 = bytes_back<1>(input, prev);
  const __m256i by_prev_high =
      _mm256_shuffle_epi8(broadcast_table(Tables.prev_high), _mm256_and_si256(_mm256_srli_epi16(prev1, 4), low_nibble));
  const __m256i by_prev_low = _mm256_shuffle_epi8(broadcast_table(Tables.prev_low), _mm256_and_si256(prev1, low_nibble));
  const __m256i by_high =
      _mm256_shuffle_epi8(broadcast_table(Tables.high), _mm256_and_si256(_mm256_srli_epi16(input, 4), low_nibble));
  const __m256i special = _mm256_and_si256(_mm256_and_si256(by_prev_high, by_prev_low), by_high);
  // Top bit set where the byte two back is E0.. or three back is F0..
  const __m256i third = _mm256_subs_epu8(bytes_back<2>(input, prev), _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80)));
  const __m256i fourth = _mm256_subs_epu8(bytes_back<3>(input, prev), _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80)));
  const __m256i required = _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(static_cast<char>(0x80)));
  return _mm256_xor_si256(required, special);
}

// Nonzero when the vector ends with a lead byte whose sequence it cannot hold.
inline __m256i ends_incomplete(__m256i input) {
  const __m256i max_ok = _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                          -1, -1, -1, -1, -1, -1, -1, -1, -1, static_cast<char>(0xF0 - 1),
                                          static_cast<char>(0xE0 - 1), static_cast<char>(0xC0 - 1));
  return _mm256_subs_epu8(input, max_ok);
}

inline void check_block(const uint8_t* p, BlockState& s) {
  const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
  if (_mm256_movemask_epi8(_mm256_or_si256(a, b)) == 0) {
    // Nothing here can finish a sequence left open by the previous block.
    s.error = _mm256_or_si256(s.error, s.prev_incomplete);
    s.prev_incomplete = _mm256_setzero_si256();
  } else {
    s.error = _mm256_or_si256(s.error, _mm256_or_si256(check_vector(a, s.prev_input), check_vector(b, a)));
    s.prev_incomplete = ends_incomplete(b);
  }
  s.prev_input = b;
}

}  // namespace

bool validate_utf8(const uint8_t* p, size_t n) {
  const __m256i zero = _mm256_setzero_si256();
  BlockState s{zero, zero, zero};
  size_t i = 0;
  for (; n - i >= 64; i += 64) check_block(p + i, s);
  if (i < n) {
    // The zero padding ends any sequence left open inside the copy.
    alignas(32) uint8_t tail[64] = {};
    std::memcpy(tail, p + i, n - i);
    check_block(tail, s);
  }
  s.error = _mm256_or_si256(s.error, s.prev_incomplete);
  // Not testz: the portable build's testz answers wrongly when half a lane is zero.
  return _mm256_movemask_epi8(_mm256_cmpeq_epi8(s.error, _mm256_setzero_si256())) == -1;
}

size_t count_utf8_chars(const uint8_t* p, size_t n) {
  if (n < Block32::Size) return portable::count_utf8_chars(p, n);
  return count_starts_in_blocks<Block32>(p, n);
}

Utf8Shape utf8_shape(const uint8_t* p, size_t n) { return utf8_shape_of_count(p, n, count_utf8_chars(p, n)); }

template <>
const Utf8Routines& routines<Utf8Routines>() {
  static constexpr Utf8Routines Table{&validate_utf8, &count_utf8_chars, &utf8_shape, &portable::utf8_decode};
  return Table;
}

}  // namespace vellum::VELLUM_VARIANT(avx2)
VELLUM_TARGET_END
