// The portable string routines (16-byte SSE2 blocks), the pieces every form
// shares, and the list of forms.
#include "reader/string.hpp"

#include "base/cpu_features.hpp"

namespace vellum {
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

// The four hex digits at `p` as a code unit, or a value above 0xFFFF.
inline uint32_t hex_unit(const uint8_t* p) {
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

uint8_t* unescape_other(uint8_t* src, uint8_t*& dst, const InputCopy& copy) {
  // src is at a backslash. Its successor is non-zero only inside the input,
  // so the four digits after "\u" lie within the zero tail at the latest.
  constexpr ReadErrorCode Invalid = ReadErrorCode::InvalidString;
  if (src[1] != 'u') {
    copy.fail(Invalid, "invalid escaped character in string", src + 1);
    return nullptr;
  }
  const uint32_t unit = hex_unit(src + 2);
  if (unit > 0xFFFF) {
    copy.fail(Invalid, "invalid escaped sequence in string", src);
    return nullptr;
  }
  if (unit < 0xD800 || unit > 0xDFFF) {
    dst = write_utf8(dst, unit);
    return src + 6;
  }
  if (unit >= 0xDC00) {
    copy.fail(Invalid, "invalid high surrogate in string", src);
    return nullptr;
  }
  if (src[6] != '\\' || src[7] != 'u') {
    copy.fail(Invalid, "no low surrogate in string", src + 6);
    return nullptr;
  }
  const uint32_t low = hex_unit(src + 8);
  if (low > 0xFFFF) {
    copy.fail(Invalid, "invalid escaped sequence in string", src + 6);
    return nullptr;
  }
  if (low < 0xDC00 || low > 0xDFFF) {
    copy.fail(Invalid, "invalid low surrogate in string", src + 6);
    return nullptr;
  }
  dst = write_utf8(dst, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
  return src + 12;
}

uint8_t* unescape_bytewise(uint8_t* start, uint8_t* src, uint8_t* dst, JsonValue& out, const InputCopy& copy) {
  for (;;) {
    while (!has_class(*src, char_class::StringStop)) *dst++ = *src++;
    if (*src != '\\') return end_escaped(start, src, dst, out, copy);
    if (!take_escape(src, dst, copy)) return nullptr;
  }
}

}  // namespace string_detail

namespace portable {
#include "reader/string_generic.hpp"

uint8_t* find_stop(uint8_t* p, const uint8_t* tail_end) {
  if (uint8_t* stop = find_stop_in_blocks<Block16, 4>(p, tail_end)) return stop;
  while (!has_class(*p, char_class::StringStop)) ++p;
  return p;
}

uint8_t* read_escaped_string(uint8_t* start, uint8_t* p, JsonValue& out, const InputCopy& copy) {
  return unescape_in_chunks<Block16, 1>(start, p, out, copy);
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
