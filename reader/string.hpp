// String tokens, read in place from the caller's bytes: a string without
// escapes is handed on where it lies; one with escapes is unescaped into a
// text buffer of the reader's.
//
// Only the quotation mark, the backslash and bytes 0x00-0x1F stop the scan.
// Bytes 0x80-0xFF never do: in well-formed UTF-8 no byte of a multi-byte
// character is below 0x80, so stepping over them one at a time keeps every
// character whole, and bytes that are not well-formed UTF-8 are passed
// through unchanged without ever hiding a terminator or the zero byte at the
// end. The scan notes whether the text holds any byte above 0x7F, so that
// only such texts need UTF-8 validation and a width scan downstream.
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

// One string's text as the reader hands it on. It lies in the input (no
// escapes) or in the reader's text buffer, and stays valid until the next
// token is read.
struct StringToken {
  const uint8_t* text;
  size_t length;
  bool ascii;  // known to hold no byte above 0x7F; false when it may
};

// Where unescaped text goes: room for short strings inline, then a block of
// the caller's memory that grows. Failing to grow is the reader's
// "memory allocation failed".
class TextBuffer {
 public:
  struct Memory {
    void* (*reallocate)(void* block, size_t size);  // null on failure, the block kept
    void (*release)(void* block);
  };
  static constexpr size_t InlineSize = 256;

  explicit TextBuffer(Memory memory) : memory_(memory) {}
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;
  ~TextBuffer() {
    if (data_ != inline_) memory_.release(data_);
  }

  uint8_t* data() { return data_; }
  size_t capacity() const { return capacity_; }
  // At least `size` bytes, the first `keep` of them kept.
  bool reserve(size_t size, size_t keep) {
    return size <= capacity_ || grow(size, keep);
  }

 private:
  bool grow(size_t size, size_t keep);

  Memory memory_;
  uint8_t* data_ = inline_;
  size_t capacity_ = InlineSize;
  alignas(16) uint8_t inline_[InlineSize];
};

// Returns the first stop byte at or after `p`, which lies before `limit`
// (the zero byte at the text's end is a stop), and sets `high` when a byte
// above 0x7F lies before it; reads nothing at or past `limit`.
using FindStopFn = const uint8_t* (*)(const uint8_t* p, const uint8_t* limit, bool& high);
// Unescapes a string from its first backslash `p`; `start` is the first byte
// of its text. Fills `out` (text in `buffer`, `ascii` told from the unescaped
// bytes) and returns the byte after the closing quotation mark, or null with
// the failure recorded.
using UnescapeFn = const uint8_t* (*)(const uint8_t* start, const uint8_t* p, StringToken& out,
                                      TextBuffer& buffer, const ReaderInput& input);

struct StringRoutines {
  FindStopFn find_stop;
  UnescapeFn unescape;
};

// Every form, widest first: string_avx512.cpp (the scan in 64-byte blocks
// with mask registers, the AVX2 form's unescaping), string_avx2.cpp (32-byte
// blocks), string.cpp (16-byte SSE2 blocks, any x86-64 processor; like the
// others it unescapes 64 bytes per step).
extern const std::span<const simd::Form<StringRoutines>> string_forms;

// Chosen once, when the library is loaded: simd::pick(string_forms,
// cpu::selected_features()).
extern const StringRoutines string_routines;

// The portable scan, which the wider ones finish with.
namespace portable {
const uint8_t* find_stop(const uint8_t* p, const uint8_t* limit, bool& high);
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

// Room the unescaping loops keep ahead of their output: two chunks of 64
// bytes and the longest escape's output.
inline constexpr size_t UnescapeSlack = 2 * 64 + 16;

// The escape at backslash `src` that is not a simple one: a \u escape (or
// pair) written as UTF-8 at `dst`, which advances. Returns the byte after it,
// or null with the failure recorded.
const uint8_t* unescape_other(const uint8_t* src, uint8_t*& dst, const ReaderInput& input);

// Unescaping one byte at a time from `src` (anywhere after the first
// escape of the text that starts at `start`), for the last bytes before the
// limit, where no block fits.
const uint8_t* unescape_bytewise(const uint8_t* start, const uint8_t* src, size_t written, StringToken& out,
                                 TextBuffer& buffer, const ReaderInput& input);

// Copies the text before the first backslash `p` into the buffer with room
// to spare; false when the buffer cannot grow.
bool start_unescaping(const uint8_t* start, const uint8_t* p, TextBuffer& buffer, const ReaderInput& input);

// The escape at backslash `src`: its bytes written at `dst`; both advance.
[[gnu::always_inline]] inline bool take_escape(const uint8_t*& src, uint8_t*& dst, const ReaderInput& input) {
  if (const uint8_t byte = SimpleEscapes[src[1]]; byte != 0) {
    *dst++ = byte;
    src += 2;
    return true;
  }
  src = unescape_other(src, dst, input);
  return src != nullptr;
}

// At the stop `src` that ends an escaped string's run: the closing quotation
// mark, or a control byte.
[[gnu::always_inline]] inline const uint8_t* end_escaped(const uint8_t* src, size_t written, StringToken& out,
                                                         TextBuffer& buffer, const ReaderInput& input) {
  if (*src == '"') [[likely]] {
    out = {buffer.data(), written, false};
    return src + 1;
  }
  input.fail(ReadErrorCode::InvalidString, ControlCharacter, src);
  return nullptr;
}

}  // namespace string_detail

// Reads with `routines`: string_routines, or a StringRoutines given
// explicitly.
[[gnu::always_inline]] inline const uint8_t* read_string_using(const StringRoutines& routines, const uint8_t* quote,
                                                               StringToken& out, TextBuffer& buffer,
                                                               const ReaderInput& input) {
  const uint8_t* const start = quote + 1;
  const uint8_t* p = start;
  uint32_t high = 0;
  // Up to 64 bytes inline: past them a call costs little against the scan.
  for (int block = 0;; ++block) {
    if (block == 4 || input.limit - p < 16) [[unlikely]] {
      bool more = false;
      p = routines.find_stop(p, input.limit, more);
      high |= more;
      break;
    }
    using portable::Block16;
    const Block16 bytes = Block16::load(p);
    if (const Block16::Bits mask = portable::string_specials(bytes).bits(); mask != 0) {
      const unsigned at = static_cast<unsigned>(__builtin_ctz(mask));
      high |= bytes.top_bits() & ((1u << at) - 1);
      p += at;
      break;
    }
    high |= bytes.top_bits();
    p += 16;
  }
  if (*p == '"') [[likely]] {
    out = {start, static_cast<size_t>(p - start), high == 0};
    return p + 1;
  }
  if (*p == '\\') return routines.unescape(start, p, out, buffer, input);
  input.fail(ReadErrorCode::InvalidString, string_detail::ControlCharacter, p);
  return nullptr;
}

// `quote` is an opening quotation mark of the input. Fills `out` and returns
// the byte after the closing quotation mark; on failure returns null, the
// failure recorded in `input`.
[[gnu::always_inline]] inline const uint8_t* read_string(const uint8_t* quote, StringToken& out, TextBuffer& buffer,
                                                         const ReaderInput& input) {
  return read_string_using(string_routines, quote, out, buffer, input);
}

}  // namespace vellum
