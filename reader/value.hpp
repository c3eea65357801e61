// The reader's output records and failure record. Plain C++: no Python here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellum {

// One 16-byte record per JSON value, in document order.
// Tag word: bits 0-2 type, bits 3-4 subtype, bits 5-7 zero, bits 8-63 length.
struct JsonValue {
  uint64_t tag;
  union {
    uint64_t u64;         // tag 4
    int64_t i64;          // tag 12
    double f64;           // tag 20
    const uint8_t* text;  // tag 5: unescaped UTF-8, length in the tag
    uint64_t distance;    // tags 6, 7: bytes from this record to the one after its subtree
  };

  constexpr uint8_t type_code() const { return static_cast<uint8_t>(tag); }
  constexpr uint64_t length() const { return tag >> 8; }
  constexpr bool is_container() const { return (tag & 6) == 6; }
};
static_assert(sizeof(JsonValue) == 16);

// Types 2 null, 3 boolean, 4 number, 5 string, 6 array, 7 object: the two
// containers are the only types with bits 1 and 2 both set, so one test tells
// them, and 0 and 1 stay unused so that a zeroed record is no value. The
// subtype (bits 3-4) tells true from false and the three number forms apart
// without another type.
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
};

// A failure, from where the reader finds it to where loads raises it.
struct DecodeError {
  ReadErrorCode code;
  const char* message;  // static, NUL-terminated ASCII
  size_t position;      // byte offset into the input, at most its length
};

// What the token readers work on: the reader's private copy of the input,
// followed by zero bytes, and the record a failure in it goes to.
struct InputCopy {
  uint8_t* begin;
  const uint8_t* end;       // end of the input inside the copy
  const uint8_t* tail_end;  // one past the last zero byte
  DecodeError* error;

  // A failure at `at` (inside the copy), reported as an offset into the input.
  void fail(ReadErrorCode code, const char* message, const uint8_t* at) const {
    *error = {code, message, static_cast<size_t>(at - begin)};
  }
};

}  // namespace vellum
