// What the reader hands on and how it fails. Plain C++: no Python here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellum {

// A scalar token as the number reader returns it: a tag word and a payload.
// Tag word: bits 0-2 type, bits 3-4 subtype, bits 5-7 zero, bits 8-63 zero.
struct JsonValue {
  uint64_t tag;
  union {
    uint64_t u64;  // tag 4
    int64_t i64;   // tag 12
    double f64;    // tag 20
  };

  constexpr uint8_t type_code() const { return static_cast<uint8_t>(tag); }
};
static_assert(sizeof(JsonValue) == 16);

// Types 2 null, 3 boolean, 4 number, 5 string, 6 array, 7 object; the
// subtype (bits 3-4) tells true from false and the three number forms apart.
// Builders and the tests' reference reader name values by these codes too.
namespace tag {
inline constexpr uint8_t Null = 2;
inline constexpr uint8_t False = 3;
inline constexpr uint8_t True = 3 | 1 << 3;
inline constexpr uint8_t Unsigned = 4;
inline constexpr uint8_t Signed = 4 | 1 << 3;
inline constexpr uint8_t Real = 4 | 2 << 3;
inline constexpr uint8_t String = 5;
inline constexpr uint8_t Array = 6;
inline constexpr uint8_t Object = 7;
}  // namespace tag

// The values are fixed by the reader's interface rather than packed: 0 is
// what a zero-filled record holds, and 1, 8, 12 and 13 name no failure of
// this reader and stay unassigned, so that a code never changes meaning.
enum class ReadErrorCode : uint32_t {
  OutOfMemory = 2,
  EmptyInput = 3,
  TrailingContent = 4,
  TruncatedInput = 5,
  UnexpectedCharacter = 6,
  TrailingComma = 7,
  InvalidNumber = 9,
  InvalidString = 10,
  InvalidLiteral = 11,
  DepthExceeded = 14,
  // The builder refused a value (its own failure: memory, or a string that
  // is not UTF-8); the builder knows what to report.
  Stopped = 15,
};

// A failure, from where the reader finds it to where loads raises it.
struct DecodeError {
  ReadErrorCode code;
  const char* message;  // static, NUL-terminated ASCII
  size_t position;      // byte offset into the input, at most its length
};

// The text as the token readers see it: the caller's bytes, read in place.
// The byte at `end` is zero, and every byte before `limit` may be read, so
// that loops which stop at a zero byte need no length test and block loads
// run up to `limit`; only loads that could pass `limit` test it.
struct ReaderInput {
  const uint8_t* begin;
  const uint8_t* end;    // *end == 0
  const uint8_t* limit;  // > end: the first byte that must not be read
  DecodeError* error;
  // A real beyond the double's range is read (as an infinity) instead of
  // refused: set for a builder that takes reals as text.
  bool unbounded_reals = false;

  // A failure at `at` (inside the text), reported as an offset into it.
  void fail(ReadErrorCode code, const char* message, const uint8_t* at) const {
    *error = {code, message, static_cast<size_t>(at - begin)};
  }
};

}  // namespace vellum
