// The portable string routines (16-byte SSE2 blocks), the pieces every form
// shares, and the list of forms.
#include "reader/string.hpp"

#include <algorithm>

#include "base/cpu_features.hpp"

namespace vellum {

bool TextBuffer::grow(size_t size, size_t keep) {
  const size_t target = std::max(size, 2 * capacity_);
  void* block = memory_.reallocate(data_ == inline_ ? nullptr : data_, target);
  if (block == nullptr) return false;
  if (data_ == inline_) std::memcpy(block, inline_, keep);
  data_ = static_cast<uint8_t*>(block);
  capacity_ = target;
  return true;
}

namespace string_detail {
namespace {

// 0-15 for hex digits, 0xF0 for anything else, so that one OR over four
// looked-up digits shows a bad one in its high nibble.
inline constexpr std::array<uint8_t, 256> HexValues = [] {
  std::array<uint8_t, 256> table{};
  for (unsigned c = 0; c < 256; ++c) {
    if (c >= '0' && c <= '9') table[c] = static_cast<uint8_t>(c - '0');
    else if (c >= 'a' && c <= 'f') table[c] = static_cast<uint8_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') table[c] = static_cast<uint8_t>(c - 'A' + 10);
    else table[c] = 0xF0;
  }
  return table;
}();

// The four hex digits at `p` as a code unit, or a value above 0xFFFF when
// they are not four hex digits of the text.
inline uint32_t hex_unit(const uint8_t* p, const ReaderInput& input) {
  if (input.end - p < 4) return 0x10000;
  const uint32_t a = HexValues[p[0]], b = HexValues[p[1]], c = HexValues[p[2]], d = HexValues[p[3]];
  if (((a | b | c | d) & 0xF0) != 0) return 0x10000;
  return (a << 12) | (b << 8) | (c << 4) | d;
}

inline uint8_t* write_utf8(uint8_t* out, uint32_t cp) {
  if (cp < 0x80) {
    *out = static_cast<uint8_t>(cp);
    return out + 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<uint8_t>(0xC0 | (cp >> 6));
    out[1] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    return out + 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<uint8_t>(0xE0 | (cp >> 12));
    out[1] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    return out + 3;
  }
  out[0] = static_cast<uint8_t>(0xF0 | (cp >> 18));
  out[1] = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
  return out + 4;
}

}  // namespace

const uint8_t* unescape_other(const uint8_t* src, uint8_t*& dst, const ReaderInput& input) {
  // src is at a backslash, so src[1] lies in the text or is its zero byte;
  // the digits are read only where they lie in the text.
  constexpr ReadErrorCode Invalid = ReadErrorCode::InvalidString;
  if (src[1] != 'u') {
    input.fail(Invalid, "invalid escaped character in string", src + 1);
    return nullptr;
  }
  const uint32_t unit = hex_unit(src + 2, input);
  if (unit > 0xFFFF) {
    input.fail(Invalid, "invalid escaped sequence in string", src);
    return nullptr;
  }
  if (unit < 0xD800 || unit > 0xDFFF) {
    dst = write_utf8(dst, unit);
    return src + 6;
  }
  if (unit >= 0xDC00) {
    input.fail(Invalid, "invalid high surrogate in string", src);
    return nullptr;
  }
  // src + 6 is at most the end; a backslash there is inside the text.
  if (src[6] != '\\' || src[7] != 'u') {
    input.fail(Invalid, "no low surrogate in string", src + 6);
    return nullptr;
  }
  const uint32_t low = hex_unit(src + 8, input);
  if (low > 0xFFFF) {
    input.fail(Invalid, "invalid escaped sequence in string", src + 6);
    return nullptr;
  }
  if (low < 0xDC00 || low > 0xDFFF) {
    input.fail(Invalid, "invalid low surrogate in string", src + 6);
    return nullptr;
  }
  dst = write_utf8(dst, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
  return src + 12;
}

bool start_unescaping(const uint8_t* start, const uint8_t* p, TextBuffer& buffer, const ReaderInput& input) {
  const size_t before = static_cast<size_t>(p - start);
  if (!buffer.reserve(before + UnescapeSlack, 0)) {
    input.fail(ReadErrorCode::OutOfMemory, "memory allocation failed", start - 1);
    return false;
  }
  std::memcpy(buffer.data(), start, before);
  return true;
}

const uint8_t* unescape_bytewise(const uint8_t* start, const uint8_t* src, size_t written, StringToken& out,
                                 TextBuffer& buffer, const ReaderInput& input) {
  // No text is longer unescaped than escaped.
  if (!buffer.reserve(written + static_cast<size_t>(input.end - src) + UnescapeSlack, written)) {
    input.fail(ReadErrorCode::OutOfMemory, "memory allocation failed", start - 1);
    return nullptr;
  }
  uint8_t* const base = buffer.data();
  uint8_t* dst = base + written;
  for (;;) {
    while (!has_class(*src, char_class::StringStop)) *dst++ = *src++;
    if (*src != '\\') return end_escaped(src, static_cast<size_t>(dst - base), out, buffer, input);
    if (!take_escape(src, dst, input)) return nullptr;
  }
}

}  // namespace string_detail

namespace portable {
#include "reader/string_generic.hpp"

const uint8_t* find_stop(const uint8_t* p, const uint8_t* limit, bool& high) {
  if (const uint8_t* stop = find_stop_in_blocks<Block16, 4>(p, limit, high)) return stop;
  uint8_t seen = 0;
  while (!has_class(*p, char_class::StringStop)) seen |= *p++;
  high |= seen >= 0x80;
  return p;
}

const uint8_t* read_escaped_string(const uint8_t* start, const uint8_t* p, StringToken& out, TextBuffer& buffer,
                                   const ReaderInput& input) {
  return unescape_in_chunks<Block16, 4>(start, p, out, buffer, input);
}

template <>
const StringRoutines& routines<StringRoutines>() {
  static constexpr StringRoutines Table{&find_stop, &read_escaped_string};
  return Table;
}

}  // namespace portable

constexpr simd::Form<StringRoutines> StringForms[] = {
    simd::form<StringRoutines, simd::Isa::Avx512>(),
    simd::form<StringRoutines, simd::Isa::Avx2>(),
    simd::form<StringRoutines, simd::Isa::Portable>(),
};
const std::span<const simd::Form<StringRoutines>> string_forms = StringForms;

const StringRoutines string_routines = simd::pick(string_forms, cpu::selected_features());

}  // namespace vellum
