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

namespace tag {
inline constexpr uint8_t Null = 2;
inline constexpr uint8_t False = 3;
inline constexpr uint8_t True = 11;
inline constexpr uint8_t Unsigned = 4;
inline constexpr uint8_t Signed = 12;
inline constexpr uint8_t Real = 20;
inline constexpr uint8_t String = 5;
inline constexpr uint8_t Array = 6;
inline constexpr uint8_t Object = 7;
}  // namespace tag

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

struct DecodeError {
  uint32_t code;        // a ReadErrorCode
  const char* message;  // static, NUL-terminated ASCII
  size_t position;      // byte offset into the input, at most its length
};

}  // namespace vellum
