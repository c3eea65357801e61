// An independent reference reader: plain recursive descent over the JSON
// grammar, one byte at a time, strings by the text oracle, numbers converted
// by strtod and std::from_chars. It predicts what the reader must produce
// for any bytes: the values with the reader's tags, or the failure with its
// code, message and position. Nothing of the product's reader is used; only
// the value tags and failure codes, which are its interface, are shared.
#pragma once

#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "reader/value.hpp"
#include "tests/oracle/text.hpp"

namespace vellum::oracle {

struct Value {
  uint8_t tag = 0;       // the reader's low tag byte
  uint64_t payload = 0;  // an integer's bits, or a real's binary64 bits
  std::string text;      // a string's unescaped bytes
  std::vector<Value> children;  // elements; an object's keys and values alternate
};

struct Failure {
  ReadErrorCode code{};
  const char* message = "";
  size_t position = 0;
};

// The deepest container a document may hold; the root container is depth 0.
inline constexpr unsigned DeepestContainer = 1023;

class JsonReader {
 public:
  JsonReader(const uint8_t* p, size_t n) : p_(p), n_(n) {}

  // A whole document: true with `root`, or false with `failure` set.
  bool read_document(Value& root) {
    if (n_ == 0) return set(ReadErrorCode::TruncatedInput, "unexpected end of data", 0);
    size_t i = skip_space(0);
    if (i == n_) return set(ReadErrorCode::EmptyInput, "input data is empty", 0);
    bool ok = value(i, root, 0);
    if (ok) {
      i = skip_space(i);
      if (i != n_) ok = set(ReadErrorCode::TrailingContent, "unexpected content after document", i);
    }
    if (!ok && cut_short(failure)) failure = {ReadErrorCode::TruncatedInput, "unexpected end of data", n_};
    return ok;
  }

  // One number token at `i` ('-' or a digit); `i` moves past it. Failures
  // are raw, as the token reader reports them.
  bool number(size_t& i, Value& out) {
    const size_t start = i;
    const bool negative = at(i) == '-';
    i += negative;
    if (!is_digit(at(i))) return fail_number("no digit after minus sign", i);
    if (at(i) == '0' && is_digit(at(i + 1))) return fail_number("number with leading zero is not allowed", i);
    while (is_digit(at(i))) ++i;
    bool integer = true;
    if (at(i) == '.') {
      ++i;
      if (!is_digit(at(i))) return fail_number("no digit after decimal point", i);
      while (is_digit(at(i))) ++i;
      integer = false;
    }
    if (at(i) == 'e' || at(i) == 'E') {
      ++i;
      if (at(i) == '+' || at(i) == '-') ++i;
      if (!is_digit(at(i))) return fail_number("no digit after exponent sign", i);
      while (is_digit(at(i))) ++i;
      integer = false;
    }
    const std::string token(reinterpret_cast<const char*>(p_ + start), i - start);
    out = Value{};
    if (integer) {
      uint64_t magnitude = 0;
      const char* digits = token.data() + negative;
      const auto [end, error] = std::from_chars(digits, token.data() + token.size(), magnitude);
      if (error == std::errc{} && end == token.data() + token.size()) {
        if (!negative) {
          out.tag = tag::Unsigned;
          out.payload = magnitude;
          return true;
        }
        if (magnitude <= uint64_t{1} << 63) {
          out.tag = tag::Signed;
          out.payload = 0 - magnitude;
          return true;
        }
      }
    }
    const double real = std::strtod(token.c_str(), nullptr);
    if (std::isinf(real)) return fail_number("number is infinity when parsed as double", start);
    out.tag = tag::Real;
    out.payload = std::bit_cast<uint64_t>(real);
    return true;
  }

  // One string token at `i` (its opening quotation mark); `i` moves past
  // it. Failures are raw. Bytes from 0x80 up are text like any other.
  bool string(size_t& i, Value& out) {
    out = Value{};
    out.tag = tag::String;
    Unescaped token = unescape_json(p_, n_, i);
    if (!token.ok) return set(ReadErrorCode::InvalidString, token.message, token.position);
    out.text = std::move(token.text);
    i = token.end;
    return true;
  }

  Failure failure;

 private:
  // The byte at i, or 0 past the end (the zero byte that ends the reader's text).
  uint8_t at(size_t i) const { return i < n_ ? p_[i] : 0; }

  static bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }
  static bool is_space(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
  static bool is_hex(uint8_t c) {
    return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  }
  size_t skip_space(size_t i) const {
    while (is_space(at(i))) ++i;
    return i;
  }

  bool set(ReadErrorCode code, const char* message, size_t position) {
    failure = {code, message, position};
    return false;
  }
  bool fail_number(const char* message, size_t position) {
    return set(ReadErrorCode::InvalidNumber, message, position);
  }
  bool unexpected(size_t position) {
    return set(ReadErrorCode::UnexpectedCharacter, "unexpected character", position);
  }

  // Whether the failure only means that the text ended too early.
  bool cut_short(const Failure& f) const {
    if (f.position >= n_) return true;
    const uint8_t* rest = p_ + f.position;
    const size_t left = n_ - f.position;
    if (f.code == ReadErrorCode::InvalidLiteral) {
      for (const char* word : {"true", "false", "null"})
        if (left < std::strlen(word) && std::memcmp(rest, word, left) == 0) return true;
      return false;
    }
    if (f.code == ReadErrorCode::InvalidString && rest[0] == '\\') {
      if (left == 1) return true;
      if (left > 5 || rest[1] != 'u') return false;
      for (size_t k = 2; k < left; ++k)
        if (!is_hex(rest[k])) return false;
      return true;
    }
    return false;
  }

  // A value at `i`; a container there would have depth `depth`.
  bool value(size_t& i, Value& out, unsigned depth) {
    const uint8_t c = at(i);
    switch (c) {
      case '[': return array(i, out, depth);
      case '{': return object(i, out, depth);
      case '"': return string(i, out);
      case 't': return literal(i, "true", tag::True, out);
      case 'f': return literal(i, "false", tag::False, out);
      case 'n': return literal(i, "null", tag::Null, out);
      default:
        if (c == '-' || is_digit(c)) return number(i, out);
        return unexpected(i);
    }
  }

  bool literal(size_t& i, const char* word, uint8_t tag, Value& out) {
    const size_t length = std::strlen(word);
    if (n_ - i < length || std::memcmp(p_ + i, word, length) != 0)
      return set(ReadErrorCode::InvalidLiteral, "invalid literal", i);
    out = Value{};
    out.tag = tag;
    i += length;
    return true;
  }

  bool open(size_t& i, unsigned depth, uint8_t tag, Value& out) {
    if (depth > DeepestContainer)
      return set(ReadErrorCode::DepthExceeded, "array and object recursion depth exceeded", i + 1);
    out = Value{};
    out.tag = tag;
    i = skip_space(i + 1);
    return true;
  }

  bool array(size_t& i, Value& out, unsigned depth) {
    if (!open(i, depth, tag::Array, out)) return false;
    if (at(i) == ']') {
      ++i;
      return true;
    }
    for (;;) {
      Value element;
      if (!value(i, element, depth + 1)) return false;
      out.children.push_back(std::move(element));
      i = skip_space(i);
      if (at(i) == ']') {
        ++i;
        return true;
      }
      if (at(i) != ',') return unexpected(i);
      const size_t comma = i;
      i = skip_space(i + 1);
      if (at(i) == ']') return set(ReadErrorCode::TrailingComma, "trailing comma is not allowed", comma);
    }
  }

  bool object(size_t& i, Value& out, unsigned depth) {
    if (!open(i, depth, tag::Object, out)) return false;
    if (at(i) == '}') {
      ++i;
      return true;
    }
    for (;;) {
      if (at(i) != '"') return unexpected(i);
      Value key, member;
      if (!string(i, key)) return false;
      i = skip_space(i);
      if (at(i) != ':') return unexpected(i);
      i = skip_space(i + 1);
      if (!value(i, member, depth + 1)) return false;
      out.children.push_back(std::move(key));
      out.children.push_back(std::move(member));
      i = skip_space(i);
      if (at(i) == '}') {
        ++i;
        return true;
      }
      if (at(i) != ',') return unexpected(i);
      const size_t comma = i;
      i = skip_space(i + 1);
      if (at(i) == '}') return set(ReadErrorCode::TrailingComma, "trailing comma is not allowed", comma);
    }
  }

  const uint8_t* p_;
  size_t n_;
};

}  // namespace vellum::oracle
