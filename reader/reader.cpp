// The reader's pieces that do not depend on the builder.
#include "reader/reader.hpp"

#include <algorithm>
#include <cstring>

namespace vellum {
namespace {

bool starts_literal(const uint8_t* p, size_t n, const char* literal, size_t literal_length) {
  return n < literal_length && std::memcmp(p, literal, n) == 0;
}

}  // namespace

bool error_is_truncation(const uint8_t* position, const uint8_t* end, ReadErrorCode code) {
  if (position >= end) return true;
  const size_t n = static_cast<size_t>(end - position);
  if (code == ReadErrorCode::InvalidLiteral)
    return starts_literal(position, n, "true", 4) || starts_literal(position, n, "false", 5) ||
           starts_literal(position, n, "null", 4);
  if (code == ReadErrorCode::InvalidString) {
    if (position[0] != '\\') return false;
    if (n == 1) return true;
    if (n > 5 || position[1] != 'u') return false;
    for (size_t i = 2; i < n; ++i)
      if (!has_class(position[i], char_class::HexDigit)) return false;
    return true;
  }
  return false;
}

namespace reader_detail {

const char* message_of(ReadErrorCode code) {
  switch (code) {
    case ReadErrorCode::OutOfMemory: return "memory allocation failed";
    case ReadErrorCode::EmptyInput: return "input data is empty";
    case ReadErrorCode::TrailingContent: return "unexpected content after document";
    case ReadErrorCode::TruncatedInput: return "unexpected end of data";
    case ReadErrorCode::UnexpectedCharacter: return "unexpected character";
    case ReadErrorCode::TrailingComma: return "trailing comma is not allowed";
    case ReadErrorCode::InvalidLiteral: return "invalid literal";
    case ReadErrorCode::DepthExceeded: return "array and object recursion depth exceeded";
    case ReadErrorCode::Stopped: return "value refused by the builder";
    case ReadErrorCode::InvalidNumber:
    case ReadErrorCode::InvalidString: break;  // their readers supply the text
  }
  return "";
}

const uint8_t* comma_before(const uint8_t* bracket) {
  const uint8_t* p = bracket - 1;
  while (*p != ',') --p;
  return p;
}

const uint8_t* read_number_near_end(const uint8_t* p, JsonValue& out, const ReaderInput& input) {
  // Fewer than NumberReach bytes are left before the limit, so the rest of
  // the text fits, followed by zeros for the word loads.
  uint8_t rest[2 * NumberReach] = {};
  const size_t n = std::min(static_cast<size_t>(input.end - p), NumberReach);
  std::memcpy(rest, p, n);
  const ReaderInput near{rest, rest + n, rest + sizeof rest, input.error, input.unbounded_reals};
  const uint8_t* next = read_number(rest, out, near);
  if (next == nullptr) {
    input.error->position += static_cast<size_t>(p - input.begin);
    return nullptr;
  }
  return p + (next - rest);
}

void settle_failure(const ReaderInput& input) {
  DecodeError& error = *input.error;
  if (error.code != ReadErrorCode::EmptyInput && error_is_truncation(input.begin + error.position, input.end, error.code))
    error = {ReadErrorCode::TruncatedInput, message_of(ReadErrorCode::TruncatedInput),
             static_cast<size_t>(input.end - input.begin)};
}

}  // namespace reader_detail
}  // namespace vellum
