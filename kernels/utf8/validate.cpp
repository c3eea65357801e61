#include "kernels/utf8/validate.hpp"

#include <emmintrin.h>

#include <array>
#include <bit>
#include <cstring>


namespace vellum {
namespace {

static_assert(std::endian::native == std::endian::little, "the ASCII scan locates bytes by trailing zeros");

// What a lead byte needs: how many bytes its sequence has and the range the
// second byte must fall in (narrower than 80..BF only for E0, ED, F0, F4).
// Length 0 marks a byte that cannot start a sequence.
struct LeadRule {
  uint8_t length;
  uint8_t second_min;
  uint8_t second_max;
};

// Indexed by lead - 0xC0; bytes below C0 are never leads.
constexpr std::array<LeadRule, 64> make_lead_rules() {
  std::array<LeadRule, 64> rules{};
  for (unsigned i = 0; i < 64; ++i) {
    const unsigned lead = 0xC0 + i;
    LeadRule r{0, 0x80, 0xBF};
    if (lead >= 0xC2 && lead <= 0xDF) r.length = 2;
    if (lead >= 0xE0 && lead <= 0xEF) r.length = 3;
    if (lead >= 0xF0 && lead <= 0xF4) r.length = 4;
    if (lead == 0xE0) r.second_min = 0xA0;  // below: overlong
    if (lead == 0xED) r.second_max = 0x9F;  // above: surrogates
    if (lead == 0xF0) r.second_min = 0x90;  // below: overlong
    if (lead == 0xF4) r.second_max = 0x8F;  // above: beyond U+10FFFF
    rules[i] = r;
  }
  return rules;
}

constexpr std::array<LeadRule, 64> LeadRules = make_lead_rules();

constexpr uint64_t HighBits = 0x8080808080808080ULL;

inline uint64_t load_u64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline bool is_continuation(uint8_t b) { return (b & 0xC0) == 0x80; }

// Index of the first byte >= 0x80 at or after i, or n.
inline size_t skip_ascii(const uint8_t* p, size_t i, size_t n) {
  while (i < n && (reinterpret_cast<uintptr_t>(p + i) & 7) != 0) {
    if (p[i] >= 0x80) return i;
    ++i;
  }
  // Long ASCII runs 64 bytes at a time (SSE2 is part of x86-64).
  while (n - i >= 64) {
    const auto block = [&](size_t k) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + k)); };
    const __m128i any = _mm_or_si128(_mm_or_si128(block(0), block(16)), _mm_or_si128(block(32), block(48)));
    if (_mm_movemask_epi8(any) != 0) break;
    i += 64;
  }
  while (n - i >= 16) {
    const uint64_t a = load_u64(p + i) & HighBits;
    const uint64_t b = load_u64(p + i + 8) & HighBits;
    if ((a | b) != 0) {
      if (a != 0) return i + static_cast<size_t>(std::countr_zero(a)) / 8;
      return i + 8 + static_cast<size_t>(std::countr_zero(b)) / 8;
    }
    i += 16;
  }
  while (i < n && p[i] < 0x80) ++i;
  return i;
}

}  // namespace

size_t valid_utf8_prefix(const uint8_t* p, size_t n) {
  size_t i = 0;
  for (;;) {
    i = skip_ascii(p, i, n);
    if (i == n) return n;
    // Sequences back to back until the next ASCII byte.
    do {
      const uint8_t lead = p[i];
      if (lead < 0xC0) return i;
      const LeadRule rule = LeadRules[lead - 0xC0];
      if (rule.length == 0 || n - i < rule.length) return i;
      const uint8_t second = p[i + 1];
      if (second < rule.second_min || second > rule.second_max) return i;
      if (rule.length >= 3 && !is_continuation(p[i + 2])) return i;
      if (rule.length == 4 && !is_continuation(p[i + 3])) return i;
      i += rule.length;
    } while (i < n && p[i] >= 0x80);
  }
}

namespace {

inline __m128i load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline __m128i splat(unsigned b) { return _mm_set1_epi8(static_cast<char>(b)); }

// The top bit of each byte of the result is set where one of the 16 bytes
// `v` breaks a rule, given the bytes one, two and three places before each
// (`back1`, `back2`, `back3`). A byte must be a continuation exactly where a
// lead byte before it asks for one: the lead one back starts a sequence of
// two or more bytes, the one two back of three or more, the one three back
// of four. Saturating subtraction puts each of these in the top bit. Where
// that holds everywhere, the sequences are whole and nothing overlaps: a
// lead inside another's sequence stands where a continuation is required.
// What is left is the bytes that lead nothing (C0, C1, F5..FF) and the four
// lead bytes whose second byte has a narrower range; the second byte is then
// a continuation, negative as a signed byte, so signed comparisons hold.
inline __m128i block_faults(__m128i v, __m128i back1, __m128i back2, __m128i back3) {
  const __m128i required = _mm_or_si128(_mm_or_si128(_mm_subs_epu8(back1, splat(0xC0 - 0x80)),
                                                     _mm_subs_epu8(back2, splat(0xE0 - 0x80))),
                                        _mm_subs_epu8(back3, splat(0xF0 - 0x80)));
  const __m128i continuation = _mm_cmplt_epi8(v, splat(0xC0));  // 0x80..0xBF
  __m128i faults = _mm_xor_si128(required, continuation);
  faults = _mm_or_si128(faults, _mm_subs_epu8(v, splat(0xF5 - 0x80)));
  faults = _mm_or_si128(faults, _mm_cmpeq_epi8(_mm_and_si128(v, splat(0xFE)), splat(0xC0)));
  const auto after = [&](unsigned lead) { return _mm_cmpeq_epi8(back1, splat(lead)); };
  const __m128i overlong3 = _mm_and_si128(after(0xE0), _mm_cmplt_epi8(v, splat(0xA0)));
  const __m128i surrogate = _mm_and_si128(after(0xED), _mm_cmpgt_epi8(v, splat(0x9F)));
  const __m128i overlong4 = _mm_and_si128(after(0xF0), _mm_cmplt_epi8(v, splat(0x90)));
  const __m128i too_large = _mm_and_si128(after(0xF4), _mm_cmpgt_epi8(v, splat(0x8F)));
  return _mm_or_si128(faults, _mm_or_si128(_mm_or_si128(overlong3, surrogate), _mm_or_si128(overlong4, too_large)));
}

// Top bit set where a lead byte among the last three of `v` asks for bytes
// past it.
inline __m128i open_at_end(__m128i v) {
  const __m128i need = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0xF0 - 0x80, 0xE0 - 0x80,
                                     0xC0 - 0x80);
  return _mm_subs_epu8(v, need);
}

}  // namespace

// 16-byte blocks, each judged with the three bytes before it, loaded again
// from memory; the first block takes zeros (ASCII) before it, and the last
// whole block is the one that ends with the text, overlapping the one
// before: judging a byte twice changes nothing. ASCII blocks are only
// checked for a sequence left open before them.
bool portable::validate_utf8(const uint8_t* p, size_t n) {
  // Too short for a whole block with three bytes before it.
  if (n < 16 + 3) return valid_utf8_prefix(p, n) == n;
  __m128i v = load16(p);
  __m128i faults = block_faults(v, _mm_slli_si128(v, 1), _mm_slli_si128(v, 2), _mm_slli_si128(v, 3));
  __m128i open = open_at_end(v);
  const auto judge = [&](size_t i) {
    v = load16(p + i);
    if (_mm_movemask_epi8(v) == 0) {
      faults = _mm_or_si128(faults, open);
      open = _mm_setzero_si128();
      return;
    }
    faults = _mm_or_si128(faults, block_faults(v, load16(p + i - 1), load16(p + i - 2), load16(p + i - 3)));
    open = open_at_end(v);
  };
  size_t i = 16;
  for (; n - i >= 16; i += 16) judge(i);
  if (i < n) judge(n - 16);
  faults = _mm_or_si128(faults, open);
  return _mm_movemask_epi8(faults) == 0;
}

}  // namespace vellum
