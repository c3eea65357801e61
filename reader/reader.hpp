// The reader: one pass over the caller's bytes, in place, without recursion,
// handing every value to a builder in document order. A container is opened
// before its children and closed after them, so a builder that keeps a stack
// of pending values makes each container at its final size when it closes.
//
// A builder is any class with these members; each returns false to stop the
// reader (its own failure, which it reports itself):
//
//   bool null_value();
//   bool boolean(bool value);
//   bool unsigned_int(uint64_t value);   // a non-negative integer literal
//   bool signed_int(int64_t value);      // a negative integer literal, and -0
//   bool real(double value);            // every other number: a fraction, an
//                                        // exponent, or beyond 64 bits
//   bool string(const StringToken& s);   // a string value
//   bool key(const StringToken& s);      // an object's key
//   bool open_array();  bool close_array();
//   bool open_object(); bool close_object();
//
// A builder may take the text of such a number instead of its double, as
// written, checked against the grammar (the double is still computed), and
// then also a real beyond the double's range:
//
//   bool real_text(const uint8_t* text, size_t size);
//
// A StringToken's text is valid only during the call that receives it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "reader/char_class.hpp"
#include "reader/number.hpp"
#include "reader/string.hpp"
#include "reader/value.hpp"

namespace vellum {

// The root container has depth 0.
inline constexpr uint32_t MaxContainerDepth = 1023;

// True when a failure at `position` only means that the text ended too early
// (`end` is the end of the text); such failures are reported as "unexpected
// end of data" at the text's length.
bool error_is_truncation(const uint8_t* position, const uint8_t* end, ReadErrorCode code);

namespace reader_detail {

const char* message_of(ReadErrorCode code);

[[gnu::cold, gnu::noinline]] inline bool fail(const ReaderInput& input, ReadErrorCode code, const uint8_t* at) {
  input.fail(code, message_of(code), at);
  return false;
}

// The comma before a closing bracket that follows it after whitespace only.
const uint8_t* comma_before(const uint8_t* bracket);

// A number within NumberReach of the limit, read from a zero-padded copy of
// the rest of the text.
const uint8_t* read_number_near_end(const uint8_t* p, JsonValue& out, const ReaderInput& input);

// Whether the literal word (four bytes) lies at `p`. Within eight bytes of
// the limit the bytes are compared one by one, up to the text's end.
[[gnu::always_inline]] inline bool word_at(const uint8_t* p, const char* word, const ReaderInput& input) {
  if (input.limit - p >= 8) [[likely]] {
    uint32_t have, want;
    std::memcpy(&have, p, 4);
    std::memcpy(&want, word, 4);
    return have == want;
  }
  return input.end - p >= 4 && std::memcmp(p, word, 4) == 0;
}

[[gnu::always_inline]] inline bool is_space(uint8_t c) { return has_class(c, char_class::Whitespace); }

[[gnu::always_inline]] inline const uint8_t* skip_space(const uint8_t* p) {
  while (is_space(*p)) ++p;
  return p;
}

// Minified text: the expected token is usually right there.
struct CompactText {
  [[gnu::always_inline]] static inline const uint8_t* skip(const uint8_t* p) {
    if (!is_space(*p)) [[likely]] return p;
    return skip_space(p + 1);
  }
};

// Indented text: a line feed, then an indent of spaces, after most tokens.
struct SpacedText {
  [[gnu::always_inline]] static inline const uint8_t* skip(const uint8_t* p) {
    if (*p == '\n') ++p;
    // p[0] is a space, so p[1] lies in the text or is its zero byte.
    while (p[0] == ' ' && p[1] == ' ') p += 2;
    return skip_space(p);
  }
};

// The scalar at `p`, handed to the builder; null on failure.
template <class Builder>
[[gnu::always_inline]] inline const uint8_t* read_scalar(const ReaderInput& input, const uint8_t* p, Builder& builder,
                                                         TextBuffer& buffer) {
  bool accepted;
  const uint8_t* next;
  switch (*p) {
    case '"': {
      StringToken s;
      next = read_string(p, s, buffer, input);
      if (next == nullptr) return nullptr;
      accepted = builder.string(s);
      break;
    }
    case '-': case '0': case '1': case '2': case '3': case '4':
    case '5': case '6': case '7': case '8': case '9': {
      JsonValue v;
      next = input.limit - p >= static_cast<ptrdiff_t>(NumberReach) ? read_number(p, v, input)
                                                                      : read_number_near_end(p, v, input);
      if (next == nullptr) return nullptr;
      switch (v.type_code()) {
        case tag::Unsigned: accepted = builder.unsigned_int(v.u64); break;
        case tag::Signed: accepted = builder.signed_int(v.i64); break;
        default:
          if constexpr (requires { builder.real_text(p, size_t{}); })
            accepted = builder.real_text(p, static_cast<size_t>(next - p));
          else
            accepted = builder.real(v.f64);
          break;
      }
      break;
    }
    case 't':
      if (!word_at(p, "true", input)) return fail(input, ReadErrorCode::InvalidLiteral, p), nullptr;
      accepted = builder.boolean(true);
      next = p + 4;
      break;
    case 'f':
      if (!word_at(p + 1, "alse", input)) return fail(input, ReadErrorCode::InvalidLiteral, p), nullptr;
      accepted = builder.boolean(false);
      next = p + 5;
      break;
    case 'n':
      if (!word_at(p, "null", input)) return fail(input, ReadErrorCode::InvalidLiteral, p), nullptr;
      accepted = builder.null_value();
      next = p + 4;
      break;
    default:
      return fail(input, ReadErrorCode::UnexpectedCharacter, p), nullptr;
  }
  if (!accepted) [[unlikely]]
    return fail(input, ReadErrorCode::Stopped, p), nullptr;
  return next;
}

template <class Builder>
bool read_root_scalar(const ReaderInput& input, const uint8_t* p, Builder& builder, TextBuffer& buffer) {
  p = read_scalar(input, p, builder, buffer);
  if (p == nullptr) return false;
  p = skip_space(p);
  if (p == input.end) return true;
  return fail(input, ReadErrorCode::TrailingContent, p);
}

// `p` is at the root's opening bracket. The two kinds of text differ only in
// how whitespace is skipped.
template <class Text, class Builder>
bool read_root_container(const ReaderInput& input, const uint8_t* p, Builder& builder, TextBuffer& buffer) {
  // Bit d set: the open container at depth d is an object. Each bit is
  // written when its container opens, before anything reads it.
  uint64_t objects[(MaxContainerDepth + 64) / 64];
  uint32_t depth = 0;
  const uint8_t* next;
  StringToken key;

  goto open_root;

open:  // p is at '[' or '{' where a value must start
  if (++depth > MaxContainerDepth) return fail(input, ReadErrorCode::DepthExceeded, p + 1);
open_root:
  if (*p == '[') {
    if (!builder.open_array()) [[unlikely]]
      return fail(input, ReadErrorCode::Stopped, p);
    objects[depth / 64] &= ~(uint64_t{1} << (depth % 64));
    ++p;
    goto array_first;
  }
  if (!builder.open_object()) [[unlikely]]
    return fail(input, ReadErrorCode::Stopped, p);
  objects[depth / 64] |= uint64_t{1} << (depth % 64);
  ++p;
  goto object_first;

array_first:  // after '['
  p = Text::skip(p);
  if (*p == ']') goto close_array;
  goto array_value;

array_next:  // after a comma
  p = Text::skip(p);
  if (*p == ']') [[unlikely]]
    return fail(input, ReadErrorCode::TrailingComma, comma_before(p));

array_value:
  if (has_class(*p, char_class::ContainerOpen)) goto open;
  p = read_scalar(input, p, builder, buffer);
  if (p == nullptr) return false;

after_element:
  p = Text::skip(p);
  if (*p == ',') [[likely]] {
    ++p;
    goto array_next;
  }
  if (*p == ']') goto close_array;
  return fail(input, ReadErrorCode::UnexpectedCharacter, p);

object_first:  // after '{'
  p = Text::skip(p);
  if (*p == '"') goto object_key;
  if (*p == '}') goto close_object;
  return fail(input, ReadErrorCode::UnexpectedCharacter, p);

object_next:  // after a comma
  p = Text::skip(p);
  if (*p == '"') [[likely]]
    goto object_key;
  if (*p == '}') return fail(input, ReadErrorCode::TrailingComma, comma_before(p));
  return fail(input, ReadErrorCode::UnexpectedCharacter, p);

object_key:
  next = read_string(p, key, buffer, input);
  if (next == nullptr) [[unlikely]]
    return false;
  if (!builder.key(key)) [[unlikely]]
    return fail(input, ReadErrorCode::Stopped, p);
  p = next;
  if (*p != ':') [[unlikely]] {
    p = skip_space(p);
    if (*p != ':') return fail(input, ReadErrorCode::UnexpectedCharacter, p);
  }
  p = Text::skip(p + 1);
  if (has_class(*p, char_class::ContainerOpen)) goto open;
  p = read_scalar(input, p, builder, buffer);
  if (p == nullptr) return false;

after_member:
  p = Text::skip(p);
  if (*p == ',') [[likely]] {
    ++p;
    goto object_next;
  }
  if (*p == '}') goto close_object;
  return fail(input, ReadErrorCode::UnexpectedCharacter, p);

close_array:
  if (!builder.close_array()) [[unlikely]]
    return fail(input, ReadErrorCode::Stopped, p);
  goto close;

close_object:
  if (!builder.close_object()) [[unlikely]]
    return fail(input, ReadErrorCode::Stopped, p);

close:
  ++p;
  if (depth == 0) {
    p = skip_space(p);
    if (p == input.end) return true;
    return fail(input, ReadErrorCode::TrailingContent, p);
  }
  --depth;
  if (objects[depth / 64] & (uint64_t{1} << (depth % 64))) goto after_member;
  goto after_element;
}

// The failure as reported: the truncation rule applied.
void settle_failure(const ReaderInput& input);

}  // namespace reader_detail

// Reads one JSON text, handing its values to `builder`. On failure fills
// the input's error record (position <= length, on a character boundary of
// valid UTF-8) and returns false; on success the record is untouched.
// `buffer` receives unescaped text.
template <class Builder>
bool read_json(const ReaderInput& given, Builder& builder, TextBuffer& buffer) {
  using namespace reader_detail;
  ReaderInput input = given;
  input.unbounded_reals = requires { builder.real_text(input.begin, size_t{}); };
  if (input.begin == input.end) return fail(input, ReadErrorCode::TruncatedInput, input.begin);
  const uint8_t* p = skip_space(input.begin);
  // Whitespace only: reported at the start, not at the end.
  if (p == input.end) return fail(input, ReadErrorCode::EmptyInput, input.begin);
  bool ok;
  if (!has_class(*p, char_class::ContainerOpen))
    ok = read_root_scalar(input, p, builder, buffer);
  else if (is_space(p[1]) && is_space(p[2]))
    ok = read_root_container<SpacedText>(input, p, builder, buffer);
  else
    ok = read_root_container<CompactText>(input, p, builder, buffer);
  if (!ok) settle_failure(input);
  return ok;
}

}  // namespace vellum
