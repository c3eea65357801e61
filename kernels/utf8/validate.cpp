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

bool portable::validate_utf8(const uint8_t* p, size_t n) { return valid_utf8_prefix(p, n) == n; }

}  // namespace vellum
