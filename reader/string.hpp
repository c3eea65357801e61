// String tokens: scanned a block at a time and, when they hold escapes,
// unescaped in place over their own bytes in the reader's copy of the input.
//
// Only the quotation mark, the backslash and bytes 0x00-0x1F stop the scan.
// Bytes 0x80-0xFF never do: in well-formed UTF-8 no byte of a multi-byte
// character is below 0x80, so stepping over them one at a time keeps every
// character whole, and bytes that are not well-formed UTF-8 (a direct caller
// may pass them) are passed through unchanged without ever hiding a
// terminator or the zero tail.
//
// The first 64 bytes are tested inline, which settles keys and short values;
// longer strings and all unescaping go to routines chosen once for the
// processor (wider blocks where it has them).
#pragma once

#include <array>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "reader/char_class.hpp"
#include "reader/value.hpp"

namespace vellum {

struct StringFailure {
  const char* message;
  const uint8_t* position;
};

namespace string_detail {

inline const char* const ControlCharacter = "unexpected control character in string";

// Returns the first stop byte at or after `p`, which lies before `tail_end`
// (the zero tail is made of stops); never reads at or past `tail_end`.
using FindStopRoutine = uint8_t* (*)(uint8_t* p, const uint8_t* tail_end);
// Unescapes a string from its first backslash `p`; `start` is the first byte
// of its text. Fills `out` and returns the byte after the closing quotation
// mark, or null with `failure` filled.
using UnescapeRoutine = uint8_t* (*)(uint8_t* start, uint8_t* p, const uint8_t* tail_end,
                                     JsonValue& out, StringFailure& failure);

struct StringRoutines {
  FindStopRoutine find_stop;
  UnescapeRoutine unescape;
};

// The portable routines: 16-byte SSE2 blocks, SSE2 being part of x86-64.
uint8_t* find_stop(uint8_t* p, const uint8_t* tail_end);
uint8_t* read_escaped_string(uint8_t* start, uint8_t* p, const uint8_t* tail_end, JsonValue& out,
                             StringFailure& failure);
inline constexpr StringRoutines PortableRoutines{&find_stop, &read_escaped_string};

// The routines this processor runs best, chosen on first use.
StringRoutines select_routines();
extern std::atomic<FindStopRoutine> active_find_stop;
extern std::atomic<UnescapeRoutine> active_unescape;

struct ActiveRoutines {
  static uint8_t* find_stop(uint8_t* p, const uint8_t* tail_end) {
    return active_find_stop.load(std::memory_order_relaxed)(p, tail_end);
  }
  static uint8_t* unescape(uint8_t* start, uint8_t* p, const uint8_t* tail_end, JsonValue& out,
                           StringFailure& failure) {
    return active_unescape.load(std::memory_order_relaxed)(start, p, tail_end, out, failure);
  }
};

// Pieces the routines of every width share.

// Byte written for the character after a backslash; 0 when it starts no
// single-byte escape.
inline constexpr std::array<uint8_t, 256> simple_escape = [] {
  std::array<uint8_t, 256> table{};
  table['"'] = '"';
  table['\\'] = '\\';
  table['/'] = '/';
  table['b'] = '\b';
  table['f'] = '\f';
  table['n'] = '\n';
  table['r'] = '\r';
  table['t'] = '\t';
  return table;
}();

// The escape at backslash `src` that is not a simple one: a \u escape (or
// pair) written as UTF-8 at `dst`, which advances. Returns the byte after it,
// or null with `failure` filled.
uint8_t* unescape_other(uint8_t* src, uint8_t*& dst, StringFailure& failure);

// Unescaping one byte at a time from `src` (anywhere after the first escape),
// for the last bytes before the zero tail, where no block fits.
uint8_t* unescape_bytewise(uint8_t* start, uint8_t* src, uint8_t* dst, JsonValue& out,
                           StringFailure& failure);

// The escape at backslash `src`: its bytes written at `dst`; both advance.
[[gnu::always_inline]] inline bool take_escape(uint8_t*& src, uint8_t*& dst, StringFailure& failure) {
  if (const uint8_t byte = simple_escape[src[1]]; byte != 0) {
    *dst++ = byte;
    src += 2;
    return true;
  }
  src = unescape_other(src, dst, failure);
  return src != nullptr;
}

// At the stop `src` that ends an escaped string's run: the closing quotation
// mark, or a control byte.
[[gnu::always_inline]] inline uint8_t* end_escaped(uint8_t* start, uint8_t* src, uint8_t* dst,
                                                   JsonValue& out, StringFailure& failure) {
  if (*src == '"') [[likely]] {
    out.tag = (static_cast<uint64_t>(dst - start) << 8) | tag::String;
    out.text = start;
    return src + 1;
  }
  failure = {ControlCharacter, src};
  return nullptr;
}

// Moves `n` (< 16) bytes down from `src` to `out` (out < src). Every load
// comes before its store, so overlapping is fine.
inline void move_short(uint8_t* out, const uint8_t* src, size_t n) {
  if (n >= 8) {
    uint64_t head, last;
    std::memcpy(&head, src, 8);
    std::memcpy(&last, src + n - 8, 8);
    std::memcpy(out, &head, 8);
    std::memcpy(out + n - 8, &last, 8);
  } else if (n >= 4) {
    uint32_t head, last;
    std::memcpy(&head, src, 4);
    std::memcpy(&last, src + n - 4, 4);
    std::memcpy(out, &head, 4);
    std::memcpy(out + n - 4, &last, 4);
  } else {
    for (size_t i = 0; i < n; ++i) out[i] = src[i];
  }
}

// Bit i set when byte i of the 16 at `p` stops a scan. Written with vector
// extensions rather than intrinsics so that it means the same in every file
// that includes it, the variants' test build included.
inline uint32_t stop_mask16(const uint8_t* p) {
  using Bytes = uint8_t __attribute__((vector_size(16)));
  using Chars = char __attribute__((vector_size(16)));
  Bytes v;
  std::memcpy(&v, p, 16);
  const auto stops = (v <= 0x1F) | (v == 0x22) | (v == 0x5C);
  return static_cast<uint32_t>(__builtin_ia32_pmovmskb128(std::bit_cast<Chars>(stops)));
}

}  // namespace string_detail

// Processor-specific routines (their portable twins are the SSE2 ones above).
// 32-byte blocks; needs AVX2.
namespace avx2 {
uint8_t* find_stop(uint8_t* p, const uint8_t* tail_end);
uint8_t* read_escaped_string(uint8_t* start, uint8_t* p, const uint8_t* tail_end, JsonValue& out,
                             StringFailure& failure);
}  // namespace avx2
// The same code over portable intrinsics (test build only).
namespace avx2_simde {
uint8_t* find_stop(uint8_t* p, const uint8_t* tail_end);
uint8_t* read_escaped_string(uint8_t* start, uint8_t* p, const uint8_t* tail_end, JsonValue& out,
                             StringFailure& failure);
}  // namespace avx2_simde

// The scan in 64-byte blocks with mask registers; needs AVX-512BW (and is
// paired with the AVX2 unescaping).
namespace avx512 {
uint8_t* find_stop(uint8_t* p, const uint8_t* tail_end);
}
namespace avx512_simde {
uint8_t* find_stop(uint8_t* p, const uint8_t* tail_end);
}

// Reads with `routines` (an ActiveRoutines or a StringRoutines).
template <typename Routines>
[[gnu::always_inline]] inline uint8_t* read_string_using(const Routines& routines, uint8_t* quote,
                                                         const uint8_t* tail_end, JsonValue& out,
                                                         StringFailure& failure) {
  uint8_t* start = quote + 1;
  uint8_t* p = start;
  // Up to 64 bytes inline: past them a call costs little against the scan.
  for (int block = 0;; ++block) {
    if (block == 4 || tail_end - p < 16) [[unlikely]] {
      p = routines.find_stop(p, tail_end);
      break;
    }
    if (const uint32_t mask = string_detail::stop_mask16(p); mask != 0) {
      p += __builtin_ctz(mask);
      break;
    }
    p += 16;
  }
  if (*p == '"') [[likely]] {
    out.tag = (static_cast<uint64_t>(p - start) << 8) | tag::String;
    out.text = start;
    return p + 1;
  }
  if (*p == '\\') return routines.unescape(start, p, tail_end, out, failure);
  failure = {string_detail::ControlCharacter, p};
  return nullptr;
}

// `quote` is an opening quotation mark inside the zero-tailed copy and
// `tail_end` is one past the copy's last zero byte. Fills `out` (tag 5, the
// unescaped length, a pointer to the text) and returns the byte after the
// closing quotation mark; on failure returns null and fills `failure`.
inline uint8_t* read_string(uint8_t* quote, const uint8_t* tail_end, JsonValue& out,
                            StringFailure& failure) {
  return read_string_using(string_detail::ActiveRoutines{}, quote, tail_end, out, failure);
}

}  // namespace vellum
