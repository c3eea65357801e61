// Plain references for text, shared by the unit tests and the fuzz targets:
// UTF-8 encoding and decoding, and JSON string escaping and unescaping.
// Written from the standards one byte at a time and slow on purpose: no
// tables, no blocks, nothing shared with the product.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vellum::oracle {

// ---------------------------------------------------------------- UTF-8

// Appends the UTF-8 bytes of code point `cp` to a std::string or a byte
// vector.
template <class Out>
void append_utf8(Out& out, uint32_t cp) {
  auto put = [&out](uint32_t b) { out.push_back(static_cast<typename Out::value_type>(b)); };
  if (cp < 0x80) {
    put(cp);
  } else if (cp < 0x800) {
    put(0xC0 | cp >> 6), put(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    put(0xE0 | cp >> 12), put(0x80 | (cp >> 6 & 0x3F)), put(0x80 | (cp & 0x3F));
  } else {
    put(0xF0 | cp >> 18), put(0x80 | (cp >> 12 & 0x3F)), put(0x80 | (cp >> 6 & 0x3F)), put(0x80 | (cp & 0x3F));
  }
}

template <class Out = std::string>
Out utf8(std::u32string_view cps) {
  Out out;
  for (char32_t c : cps) append_utf8(out, static_cast<uint32_t>(c));
  return out;
}

// The length of the well-formed sequence at p[i] (its code point in `cp`),
// or 0 when none starts there: each sequence decoded bit by bit, then what
// the Unicode Standard calls ill-formed rejected (overlong forms, surrogates,
// values past U+10FFFF, sequences cut short). Reads nothing at or past p[n].
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

// The code points of valid UTF-8 (up to the first ill-formed sequence).
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

// ---------------------------------------------------------------- JSON strings

// '"', the bytes with '"', '\' and the control characters escaped (the
// two-character escape where JSON has one, \u00xx otherwise), '"'. Every
// other byte, 0x7F and non-ASCII included, is copied.
inline std::string escape_json(const uint8_t* p, size_t n) {
  std::string out = "\"";
  for (size_t i = 0; i < n; ++i) {
    const uint8_t c = p[i];
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += "0123456789abcdef"[c >> 4];
          out += "0123456789abcdef"[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

inline std::string escape_json(std::string_view s) {
  return escape_json(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

// A string token read: its bytes and where it ends, or the reader's failure
// message and position.
struct Unescaped {
  bool ok = false;
  std::string text;
  size_t end = 0;  // after the closing quotation mark
  const char* message = "";
  size_t position = 0;
};

// The string token whose opening quotation mark is p[i], with the bytes past
// p[n] read as zero (as the zero byte that ends the reader's text reads). Bytes from 0x80 up are
// text like any other.
inline Unescaped unescape_json(const uint8_t* p, size_t n, size_t i) {
  Unescaped r;
  auto at = [p, n](size_t k) -> uint8_t { return k < n ? p[k] : 0; };
  auto fail = [&r](const char* message, size_t position) {
    r.message = message;
    r.position = position;
    return r;
  };
  auto hex4 = [&at](size_t k, uint32_t& unit) {
    unit = 0;
    for (size_t d = 0; d < 4; ++d) {
      const uint8_t c = at(k + d);
      if (c >= '0' && c <= '9') unit = unit * 16 + (c - '0');
      else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') unit = unit * 16 + ((c | 0x20) - 'a' + 10);
      else return false;
    }
    return true;
  };
  for (++i;;) {
    const uint8_t c = at(i);
    if (c == '"') {
      r.ok = true;
      r.end = i + 1;
      return r;
    }
    if (c < 0x20) return fail("unexpected control character in string", i);
    if (c != '\\') {
      r.text += static_cast<char>(c);
      ++i;
      continue;
    }
    const uint8_t e = at(i + 1);
    const char simple = e == '"' ? '"' : e == '\\' ? '\\' : e == '/' ? '/' : e == 'b' ? '\b' : e == 'f' ? '\f'
                      : e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : 0;
    if (simple != 0) {
      r.text += simple;
      i += 2;
      continue;
    }
    if (e != 'u') return fail("invalid escaped character in string", i + 1);
    uint32_t unit;
    if (!hex4(i + 2, unit)) return fail("invalid escaped sequence in string", i);
    if (unit >= 0xDC00 && unit <= 0xDFFF) return fail("invalid high surrogate in string", i);
    if (unit < 0xD800 || unit > 0xDBFF) {
      append_utf8(r.text, unit);
      i += 6;
      continue;
    }
    if (at(i + 6) != '\\' || at(i + 7) != 'u') return fail("no low surrogate in string", i + 6);
    uint32_t low;
    if (!hex4(i + 8, low)) return fail("invalid escaped sequence in string", i + 6);
    if (low < 0xDC00 || low > 0xDFFF) return fail("invalid low surrogate in string", i + 6);
    append_utf8(r.text, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
    i += 12;
  }
}

inline Unescaped unescape_json(std::string_view token) {
  return unescape_json(reinterpret_cast<const uint8_t*>(token.data()), token.size(), 0);
}

}  // namespace vellum::oracle
