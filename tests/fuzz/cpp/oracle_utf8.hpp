// An independent UTF-8 reference: decode each sequence bit by bit, then
// reject what the Unicode Standard calls ill-formed (overlong forms,
// surrogates, values past U+10FFFF, sequences cut short). Slow on purpose:
// no tables, no blocks, nothing shared with the product's validators.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vellum::oracle {

// The length of the well-formed sequence at p[i] (its code point in `cp`), or
// 0 when none starts there. Reads nothing at or past p[n].
inline size_t utf8_sequence(const uint8_t* p, size_t i, size_t n, uint32_t& cp) {
  const uint8_t lead = p[i];
  if (lead < 0x80) {
    cp = lead;
    return 1;
  }
  size_t length;
  uint32_t value, smallest;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1Fu, smallest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0Fu, smallest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07u, smallest = 0x10000;
  } else {
    return 0;  // a continuation byte, or F8..FF
  }
  if (n - i < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    const uint8_t b = p[i + k];
    if ((b & 0xC0) != 0x80) return 0;
    value = (value << 6) | (b & 0x3Fu);
  }
  if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  cp = value;
  return length;
}

// Where the first ill-formed sequence starts (n when there is none).
inline size_t utf8_valid_prefix(const uint8_t* p, size_t n) {
  size_t i = 0;
  uint32_t cp;
  while (i < n) {
    const size_t length = utf8_sequence(p, i, n, cp);
    if (length == 0) return i;
    i += length;
  }
  return n;
}

inline bool utf8_valid(const uint8_t* p, size_t n) { return utf8_valid_prefix(p, n) == n; }

// The code points of valid UTF-8.
inline std::vector<uint32_t> utf8_code_points(const uint8_t* p, size_t n) {
  std::vector<uint32_t> out;
  uint32_t cp;
  for (size_t i = 0; i < n;) {
    const size_t length = utf8_sequence(p, i, n, cp);
    if (length == 0) break;
    out.push_back(cp);
    i += length;
  }
  return out;
}

}  // namespace vellum::oracle
