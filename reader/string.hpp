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
// longer strings and all unescaping go to the routines of string_routines
// (wider blocks where the processor has them).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "base/simd/forms.hpp"
#include "base/simd/portable.hpp"
#include "reader/char_class.hpp"
#include "reader/value.hpp"

namespace vellum {

// Returns the first stop byte at or after `p`, which lies before `tail_end`
// (the zero tail is made of stops); never reads at or past `tail_end`.
using FindStopFn = uint8_t* (*)(uint8_t* p, const uint8_t* tail_end);
// Unescapes a string from its first backslash `p`; `start` is the first byte
// of its text. Fills `out` and returns the byte after the closing quotation
// mark, or null with the failure recorded in `copy`.
using UnescapeFn = uint8_t* (*)(uint8_t* start, uint8_t* p, JsonValue& out, const InputCopy& copy);

struct StringRoutines {
  FindStopFn find_stop;
  UnescapeFn unescape;
};

// Every form, widest first: string_avx512.cpp (the scan in 64-byte blocks
// with mask registers, the AVX2 form's unescaping), string_avx2.cpp (32-byte
// blocks), string.cpp (16-byte SSE2 blocks, any x86-64 processor).
extern const std::span<const simd::Form<StringRoutines>> string_forms;

// Chosen once, when the library is loaded: simd::pick(string_forms,
// cpu::selected_features()).
extern const StringRoutines string_routines;

// The portable scan, which the wider ones finish with.
namespace portable {
uint8_t* find_stop(uint8_t* p, const uint8_t* tail_end);
}

// Pieces the routines of every width share.
namespace string_detail {

inline const char* const ControlCharacter = "unexpected control character in string";

// Byte written for the character after a backslash; 0 when it starts no
// single-byte escape.
inline constexpr std::array<uint8_t, 256> SimpleEscapes = [] {
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
// or null with the failure recorded in `copy`.
uint8_t* unescape_other(uint8_t* src, uint8_t*& dst, const InputCopy& copy);

// Unescaping one byte at a time from `src` (anywhere after the first escape),
// for the last bytes before the zero tail, where no block fits.
uint8_t* unescape_bytewise(uint8_t* start, uint8_t* src, uint8_t* dst, JsonValue& out, const InputCopy& copy);

// The escape at backslash `src`: its bytes written at `dst`; both advance.
[[gnu::always_inline]] inline bool take_escape(uint8_t*& src, uint8_t*& dst, const InputCopy& copy) {
  if (const uint8_t byte = SimpleEscapes[src[1]]; byte != 0) {
    *dst++ = byte;
    src += 2;
    return true;
  }
  src = unescape_other(src, dst, copy);
  return src != nullptr;
}

// At the stop `src` that ends an escaped string's run: the closing quotation
// mark, or a control byte.
[[gnu::always_inline]] inline uint8_t* end_escaped(uint8_t* start, uint8_t* src, uint8_t* dst,
                                                   JsonValue& out, const InputCopy& copy) {
  if (*src == '"') [[likely]] {
    out.tag = (static_cast<uint64_t>(dst - start) << 8) | tag::String;
    out.text = start;
    return src + 1;
  }
  copy.fail(ReadErrorCode::InvalidString, ControlCharacter, src);
  return nullptr;
}

// Moves `n` bytes down from `src` to `dst` (dst < src), the ranges possibly
// overlapping: every load comes before its store. At most 64 bytes.
inline void move_down(uint8_t* dst, const uint8_t* src, size_t n) {
  auto move_pair = [&](auto word) {
    decltype(word) head, last;
    std::memcpy(&head, src, sizeof head);
    std::memcpy(&last, src + n - sizeof last, sizeof last);
    std::memcpy(dst, &head, sizeof head);
    std::memcpy(dst + n - sizeof last, &last, sizeof last);
  };
  struct Bytes16 { uint8_t b[16]; };
  struct Bytes32 { uint8_t b[32]; };
  if (n >= 32) move_pair(Bytes32{});
  else if (n >= 16) move_pair(Bytes16{});
  else if (n >= 8) move_pair(uint64_t{});
  else if (n >= 4) move_pair(uint32_t{});
  else
    for (size_t i = 0; i < n; ++i) dst[i] = src[i];
}

}  // namespace string_detail

// Reads with `routines`: string_routines, or a StringRoutines given
// explicitly.
[[gnu::always_inline]] inline uint8_t* read_string_using(const StringRoutines& routines, uint8_t* quote,
                                                         JsonValue& out, const InputCopy& copy) {
  uint8_t* start = quote + 1;
  uint8_t* p = start;
  // Up to 64 bytes inline: past them a call costs little against the scan.
  for (int block = 0;; ++block) {
    if (block == 4 || copy.tail_end - p < 16) [[unlikely]] {
      p = routines.find_stop(p, copy.tail_end);
      break;
    }
    using portable::Block16;
    if (const Block16::Bits mask = portable::string_specials(Block16::load(p)).bits(); mask != 0) {
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
  if (*p == '\\') return routines.unescape(start, p, out, copy);
  copy.fail(ReadErrorCode::InvalidString, string_detail::ControlCharacter, p);
  return nullptr;
}

// `quote` is an opening quotation mark inside the zero-tailed copy. Fills
// `out` (tag 5, the unescaped length, a pointer to the text) and returns the
// byte after the closing quotation mark; on failure returns null, the
// failure recorded in `copy`.
[[gnu::always_inline]] inline uint8_t* read_string(uint8_t* quote, JsonValue& out, const InputCopy& copy) {
  return read_string_using(string_routines, quote, out, copy);
}

}  // namespace vellum
