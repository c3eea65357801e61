#include "reader/string.hpp"

#include <array>
#include <cstring>

namespace vellum::string_detail {
namespace {

// 0-15 for hex digits, 0xF0 for anything else, so that one OR over four
// looked-up digits shows a bad one in its high nibble.
inline constexpr std::array<uint8_t, 256> hex_value = [] {
  std::array<uint8_t, 256> table{};
  for (unsigned c = 0; c < 256; ++c) {
    if (c >= '0' && c <= '9') table[c] = static_cast<uint8_t>(c - '0');
    else if (c >= 'a' && c <= 'f') table[c] = static_cast<uint8_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') table[c] = static_cast<uint8_t>(c - 'A' + 10);
    else table[c] = 0xF0;
  }
  return table;
}();

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

// The four hex digits at `p` as a code unit, or a value above 0xFFFF.
inline uint32_t hex_unit(const uint8_t* p) {
  const uint32_t a = hex_value[p[0]], b = hex_value[p[1]], c = hex_value[p[2]], d = hex_value[p[3]];
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

}  // namespace

uint8_t* read_escaped_string(uint8_t* start, uint8_t* p, const uint8_t* tail_end, JsonValue& out,
                             StringFailure& failure) {
  uint8_t* src = p;
  uint8_t* dst = p;
  for (;;) {
    // src is at a backslash. Its successor is non-zero only inside the input,
    // so the four digits after "\u" lie within the zero tail at the latest.
    const uint8_t escaped = src[1];
    if (const uint8_t byte = simple_escape[escaped]; byte != 0) {
      *dst++ = byte;
      src += 2;
    } else if (escaped == 'u') {
      const uint32_t unit = hex_unit(src + 2);
      if (unit > 0xFFFF) {
        failure = {"invalid escaped sequence in string", src};
        return nullptr;
      }
      if (unit < 0xD800 || unit > 0xDFFF) {
        dst = write_utf8(dst, unit);
        src += 6;
      } else if (unit >= 0xDC00) {
        failure = {"invalid high surrogate in string", src};
        return nullptr;
      } else {
        if (src[6] != '\\' || src[7] != 'u') {
          failure = {"no low surrogate in string", src + 6};
          return nullptr;
        }
        const uint32_t low = hex_unit(src + 8);
        if (low > 0xFFFF) {
          failure = {"invalid escaped sequence in string", src + 6};
          return nullptr;
        }
        if (low < 0xDC00 || low > 0xDFFF) {
          failure = {"invalid low surrogate in string", src + 6};
          return nullptr;
        }
        dst = write_utf8(dst, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        src += 12;
      }
    } else {
      failure = {"invalid escaped character in string", src + 1};
      return nullptr;
    }

    // Move the run of ordinary bytes down to the output.
    for (;;) {
      if (tail_end - src < 16) {
        while (!has_class(*src, char_class::StringStop)) *dst++ = *src++;
        break;
      }
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
      const uint32_t mask = stop_mask(block);
      if (mask == 0) {
        // Overwrites only bytes of this block, which are already loaded.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), block);
        dst += 16;
        src += 16;
        continue;
      }
      const size_t run = static_cast<size_t>(__builtin_ctz(mask));
      move_short(dst, src, run);
      dst += run;
      src += run;
      break;
    }

    if (*src == '"') {
      out.tag = (static_cast<uint64_t>(dst - start) << 8) | tag::String;
      out.text = start;
      return src + 1;
    }
    if (*src != '\\') {
      failure = {ControlCharacter, src};
      return nullptr;
    }
  }
}

}  // namespace vellum::string_detail
