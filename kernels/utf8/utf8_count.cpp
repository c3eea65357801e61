#include "kernels/utf8/utf8_count.hpp"

#include <array>
#include <cstring>

#include "base/simd/portable.hpp"

namespace vellum::portable {
#include "kernels/utf8/utf8_count_generic.hpp"

namespace {

// As signed bytes, continuation bytes are exactly those below -64.
inline bool is_char_start(uint8_t b) { return static_cast<int8_t>(b) >= -64; }

size_t count_bytes(const uint8_t* p, size_t n) {
  size_t count = 0;
  for (size_t i = 0; i < n; ++i) count += is_char_start(p[i]);
  return count;
}

// Bit 7 of each byte of the result is set when that byte is 10xxxxxx. The
// shift moves bit 6 of each byte onto its own bit 7; what crosses into the
// next byte lands on bit 0 and is masked off.
inline uint64_t continuation_bits(uint64_t w) { return w & ~(w << 1) & 0x8080808080808080u; }

// Number of set bits in a word whose bits are all at position 7 of a byte;
// the byte-wise sum reaches the top byte and cannot exceed 8.
inline unsigned count_high_bits(uint64_t bits) {
  return static_cast<unsigned>(((bits >> 7) * 0x0101010101010101u) >> 56);
}

// 8 to 15 bytes as two overlapping words; the shared bytes are counted once.
size_t count_words(const uint8_t* p, size_t n) {
  uint64_t first, last;
  std::memcpy(&first, p, 8);
  std::memcpy(&last, p + n - 8, 8);
  const uint64_t a = continuation_bits(first), b = continuation_bits(last);
  const uint64_t shared = a >> ((n - 8) * 8);
  return n - (count_high_bits(a) + count_high_bits(b) - count_high_bits(shared));
}

}  // namespace

size_t count_utf8_chars(const uint8_t* p, size_t n) {
  if (n < 8) return count_bytes(p, n);
  if (n < 16) return count_words(p, n);
  return count_starts_in_blocks<Block16>(p, n);
}

}  // namespace vellum::portable
