// String tokens: scanned sixteen bytes at a time and, when they hold escapes,
// unescaped in place over their own bytes in the reader's copy of the input.
//
// Only the quotation mark, the backslash and bytes 0x00-0x1F stop the scan.
// Bytes 0x80-0xFF never do: in well-formed UTF-8 no byte of a multi-byte
// character is below 0x80, so stepping over them one at a time keeps every
// character whole, and bytes that are not well-formed UTF-8 (a direct caller
// may pass them) are passed through unchanged without ever hiding a
// terminator or the zero tail.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#include "reader/char_class.hpp"
#include "reader/value.hpp"

namespace vellum {

struct StringFailure {
  const char* message;
  const uint8_t* position;
};

namespace string_detail {

// Bit i set when byte i stops a scan: '"', '\\' or 0x00-0x1F.
inline uint32_t stop_mask(__m128i v) {
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i control_max = _mm_set1_epi8(0x1F);
  const __m128i stops = _mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
      _mm_cmpeq_epi8(_mm_max_epu8(v, control_max), control_max));
  return static_cast<uint32_t>(_mm_movemask_epi8(stops));
}

// Vector loads stay below `tail_end`; the last few bytes go one at a time.
inline uint8_t* find_stop(uint8_t* p, const uint8_t* tail_end) {
  while (tail_end - p >= 16) {
    const uint32_t mask = stop_mask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    if (mask != 0) return p + __builtin_ctz(mask);
    p += 16;
  }
  while (!has_class(*p, char_class::StringStop)) ++p;
  return p;
}

inline const char* const ControlCharacter = "unexpected control character in string";

// Continues a string at its first backslash `p`; `start` is the first byte
// of its text.
uint8_t* read_escaped_string(uint8_t* start, uint8_t* p, const uint8_t* tail_end, JsonValue& out,
                             StringFailure& failure);

}  // namespace string_detail

// `quote` is an opening quotation mark inside the zero-tailed copy and
// `tail_end` is one past the copy's last zero byte. Fills `out` (tag 5, the
// unescaped length, a pointer to the text) and returns the byte after the
// closing quotation mark; on failure returns null and fills `failure`.
inline uint8_t* read_string(uint8_t* quote, const uint8_t* tail_end, JsonValue& out,
                            StringFailure& failure) {
  uint8_t* start = quote + 1;
  uint8_t* p = string_detail::find_stop(start, tail_end);
  if (*p == '"') [[likely]] {
    out.tag = (static_cast<uint64_t>(p - start) << 8) | tag::String;
    out.text = start;
    return p + 1;
  }
  if (*p == '\\') return string_detail::read_escaped_string(start, p, tail_end, out, failure);
  failure = {string_detail::ControlCharacter, p};
  return nullptr;
}

}  // namespace vellum
