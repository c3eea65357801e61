// The one-pass reader: no recursion; nesting is tracked through links kept in
// the container records themselves until each container closes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "reader/char_class.hpp"
#include "reader/document.hpp"
#include "reader/number.hpp"
#include "reader/string.hpp"

namespace vellum {
namespace {

constexpr size_t RecordSize = sizeof(JsonValue);
constexpr size_t HeaderSlots = sizeof(JsonDocument) / RecordSize;
constexpr size_t ExtraSlots = 8;
constexpr size_t MaxEstimatedSlots = (size_t{1} << 60) - 9;

void* heap_allocate(void*, size_t size) { return std::malloc(size); }
void* heap_reallocate(void*, void* block, size_t, size_t new_size) {
  return std::realloc(block, new_size);
}
void heap_release(void*, void* block) { std::free(block); }
constexpr ReaderAllocator HeapAllocator{heap_allocate, heap_reallocate, heap_release, nullptr};

constexpr const char* message_of(ReadErrorCode code) {
  switch (code) {
    case ReadErrorCode::OutOfMemory: return "memory allocation failed";
    case ReadErrorCode::EmptyInput: return "input data is empty";
    case ReadErrorCode::TrailingContent: return "unexpected content after document";
    case ReadErrorCode::TruncatedInput: return "unexpected end of data";
    case ReadErrorCode::UnexpectedCharacter: return "unexpected character";
    case ReadErrorCode::TrailingComma: return "trailing comma is not allowed";
    case ReadErrorCode::InvalidLiteral: return "invalid literal";
    case ReadErrorCode::DepthExceeded: return "array and object recursion depth exceeded";
    case ReadErrorCode::InvalidNumber:
    case ReadErrorCode::InvalidString: break;  // their readers supply the text
  }
  return "";
}

struct ReadContext {
  ReaderAllocator allocator;
  InputCopy copy;

  void fail(ReadErrorCode code, const uint8_t* position) { copy.fail(code, message_of(code), position); }
};

[[gnu::always_inline]] inline bool is_space(uint8_t c) { return has_class(c, char_class::Whitespace); }

[[gnu::always_inline]] inline uint8_t* skip_space(uint8_t* p) {
  while (is_space(*p)) ++p;
  return p;
}

// Minified text: the expected token is usually right there.
struct CompactText {
  static constexpr size_t BytesPerSlot = 6;
  [[gnu::always_inline]] static inline uint8_t* skip(uint8_t* p) {
    if (!is_space(*p)) [[likely]] return p;
    return skip_space(p + 1);
  }
};

// Indented text: a line feed, then an indent of spaces, after most tokens.
struct SpacedText {
  static constexpr size_t BytesPerSlot = 16;
  [[gnu::always_inline]] static inline uint8_t* skip(uint8_t* p) {
    if (*p == '\n') ++p;
    // p[0] is a space, so p[1] lies in the input or its zero tail.
    while (p[0] == ' ' && p[1] == ' ') p += 2;
    return skip_space(p);
  }
};

[[gnu::always_inline]] inline uint32_t load_u32(const uint8_t* p) {
  uint32_t word;
  std::memcpy(&word, p, 4);
  return word;
}

constexpr uint32_t word_of(const char* s) {
  return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
         uint32_t(uint8_t(s[3])) << 24;
}

// Reads the scalar starting at `p` into `v`; null on failure. Literal words
// never reach past the zero tail: 'f' is compared from the byte after it.
[[gnu::always_inline]] inline uint8_t* read_scalar(ReadContext& cx, uint8_t* p, JsonValue* v) {
  switch (*p) {
    case '"':
      return read_string(p, *v, cx.copy);
    case '-': case '0': case '1': case '2': case '3': case '4':
    case '5': case '6': case '7': case '8': case '9':
      // The number reader only reads; the copy it points into is ours.
      return const_cast<uint8_t*>(read_number(p, *v, cx.copy));
    case 't':
      if (load_u32(p) == word_of("true")) {
        v->tag = tag::True;
        return p + 4;
      }
      break;
    case 'f':
      if (load_u32(p + 1) == word_of("alse")) {
        v->tag = tag::False;
        return p + 5;
      }
      break;
    case 'n':
      if (load_u32(p) == word_of("null")) {
        v->tag = tag::Null;
        return p + 4;
      }
      break;
    default:
      cx.fail(ReadErrorCode::UnexpectedCharacter, p);
      return nullptr;
  }
  cx.fail(ReadErrorCode::InvalidLiteral, p);
  return nullptr;
}

// The comma before a closing bracket that follows it after whitespace only.
const uint8_t* comma_before(const uint8_t* bracket) {
  const uint8_t* p = bracket - 1;
  while (*p != ',') --p;
  return p;
}

struct Records {
  JsonValue* base;
  size_t slots;
};

// Grows by half; when that much memory is not available, by less, down to
// the one slot the next record needs, so that a pool sized for the document
// never fails for the overshoot of the growth step.
[[gnu::noinline, gnu::cold]] Records grow_records(const ReaderAllocator& allocator, Records r) {
  constexpr size_t MaxSlots = SIZE_MAX / RecordSize;
  for (size_t step = r.slots / 2; step > 0; step /= 2) {
    if (step > MaxSlots - r.slots) continue;
    const size_t slots = r.slots + step;
    void* grown = allocator.reallocate(allocator.context, r.base, r.slots * RecordSize,
                                       slots * RecordSize);
    if (grown != nullptr) return {static_cast<JsonValue*>(grown), slots};
  }
  return {nullptr, r.slots};
}

JsonDocument* fill_header(ReadContext& cx, JsonValue* base, JsonValue* last) {
  return new (static_cast<void*>(base))
      JsonDocument{base + HeaderSlots, cx.allocator, static_cast<size_t>(cx.copy.end - cx.copy.begin),
                   static_cast<size_t>(last - base) - (HeaderSlots - 1), cx.copy.begin};
}

JsonDocument* read_root_scalar(ReadContext& cx, uint8_t* p) {
  auto* base = static_cast<JsonValue*>(
      cx.allocator.allocate(cx.allocator.context, (HeaderSlots + 1) * RecordSize));
  if (base == nullptr) {
    cx.fail(ReadErrorCode::OutOfMemory, p);
    return nullptr;
  }
  JsonValue* root = base + HeaderSlots;
  p = read_scalar(cx, p, root);
  if (p != nullptr) {
    p = skip_space(p);
    if (p == cx.copy.end) return fill_header(cx, base, root);
    cx.fail(ReadErrorCode::TrailingContent, p);
  }
  cx.allocator.release(cx.allocator.context, base);
  return nullptr;
}

// `p` is at the root's opening bracket. The two kinds of text differ only in
// the first size estimate and in how whitespace is skipped.
template <class Text>
JsonDocument* read_root_container(ReadContext& cx, uint8_t* p) {
  Records records;
  records.slots =
      std::min<size_t>(static_cast<size_t>(cx.copy.end - p) / Text::BytesPerSlot, MaxEstimatedSlots) +
      ExtraSlots;
  records.base =
      static_cast<JsonValue*>(cx.allocator.allocate(cx.allocator.context, records.slots * RecordSize));
  if (records.base == nullptr) {
    cx.fail(ReadErrorCode::OutOfMemory, p);
    return nullptr;
  }
  // The last two slots stay unused: reaching them triggers growth.
  JsonValue* limit = records.base + records.slots - 2;
  JsonValue* container = records.base + HeaderSlots;  // the open container
  JsonValue* last = container;                        // the last record written
  JsonValue* v;
  uint64_t count = 0;  // records read directly into `container`
  uint32_t depth = 0;
  uint8_t* next;

  // Before writing the record after `last`: grow when it would be a spare.
  auto make_room = [&]() __attribute__((always_inline)) -> bool {
    if (last + 1 < limit) [[likely]] return true;
    const Records grown = grow_records(cx.allocator, records);
    if (grown.base == nullptr) return false;
    container = grown.base + (container - records.base);
    last = grown.base + (last - records.base);
    records = grown;
    limit = records.base + records.slots - 2;
    return true;
  };

  // A scalar element or member value at p, into the next record.
  auto add_scalar = [&]() __attribute__((always_inline)) -> bool {
    if (!make_room()) {
      cx.fail(ReadErrorCode::OutOfMemory, p);
      return false;
    }
    JsonValue* const record = last + 1;
    uint8_t* const after = read_scalar(cx, p, record);
    if (after == nullptr) return false;
    p = after;
    last = record;
    ++count;
    return true;
  };

  container->tag = *p == '[' ? tag::Array : tag::Object;
  container->distance = 0;  // no parent
  if (*p++ == '[') goto array_first;
  goto object_first;

open:  // p is at '[' or '{' where a value must start
  if (++depth > MaxContainerDepth) {
    cx.fail(ReadErrorCode::DepthExceeded, p + 1);
    goto failed;
  }
  // The parent keeps its count, the new child included, for when it resumes.
  container->tag = ((count + 1) << 8) | (container->tag & 0xFF);
  if (!make_room()) {
    cx.fail(ReadErrorCode::OutOfMemory, p);
    goto failed;
  }
  v = last + 1;
  v->tag = *p == '[' ? tag::Array : tag::Object;
  v->distance = static_cast<uint64_t>(v - container) * RecordSize;
  container = v;
  last = v;
  count = 0;
  if (*p++ == '[') goto array_first;
  goto object_first;

array_first:  // after '['
  p = Text::skip(p);
  if (*p == ']') goto close_array;
  goto array_value;

array_next:  // after a comma
  p = Text::skip(p);
  if (*p == ']') [[unlikely]] {
    cx.fail(ReadErrorCode::TrailingComma, comma_before(p));
    goto failed;
  }

array_value:
  if (has_class(*p, char_class::ContainerOpen)) goto open;
  if (!add_scalar()) goto failed;

after_element:
  p = Text::skip(p);
  if (*p == ',') [[likely]] {
    ++p;
    goto array_next;
  }
  if (*p == ']') goto close_array;
  cx.fail(ReadErrorCode::UnexpectedCharacter, p);
  goto failed;

object_first:  // after '{'
  p = Text::skip(p);
  if (*p == '"') goto object_key;
  if (*p == '}') goto close_object;
  cx.fail(ReadErrorCode::UnexpectedCharacter, p);
  goto failed;

object_next:  // after a comma
  p = Text::skip(p);
  if (*p == '"') [[likely]] goto object_key;
  cx.fail(*p == '}' ? ReadErrorCode::TrailingComma : ReadErrorCode::UnexpectedCharacter,
          *p == '}' ? comma_before(p) : p);
  goto failed;

object_key:
  if (!make_room()) {
    cx.fail(ReadErrorCode::OutOfMemory, p);
    goto failed;
  }
  v = last + 1;
  next = read_string(p, *v, cx.copy);
  if (next == nullptr) [[unlikely]]
    goto failed;
  p = next;
  last = v;
  ++count;
  if (*p != ':') [[unlikely]] {
    p = skip_space(p);
    if (*p != ':') {
      cx.fail(ReadErrorCode::UnexpectedCharacter, p);
      goto failed;
    }
  }
  p = Text::skip(p + 1);
  if (has_class(*p, char_class::ContainerOpen)) goto open;
  if (!add_scalar()) goto failed;

after_member:
  p = Text::skip(p);
  if (*p == ',') [[likely]] {
    ++p;
    goto object_next;
  }
  if (*p == '}') goto close_object;
  cx.fail(ReadErrorCode::UnexpectedCharacter, p);
  goto failed;

close_array:
  container->tag = (count << 8) | tag::Array;
  goto close;

close_object:
  container->tag = ((count / 2) << 8) | tag::Object;

close:
  ++p;
  {
    const uint64_t up = container->distance;
    container->distance = static_cast<uint64_t>(last - container + 1) * RecordSize;
    if (up == 0) goto finish;
    container = reinterpret_cast<JsonValue*>(reinterpret_cast<uint8_t*>(container) - up);
  }
  --depth;
  count = container->length();
  if (container->type_code() == tag::Object) goto after_member;
  goto after_element;

finish:
  p = skip_space(p);
  if (p == cx.copy.end) return fill_header(cx, records.base, last);
  cx.fail(ReadErrorCode::TrailingContent, p);

failed:
  cx.allocator.release(cx.allocator.context, records.base);
  return nullptr;
}

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

JsonDocument* read_document(const uint8_t* input, size_t length, const ReaderAllocator* allocator,
                            DecodeError* error) {
  if (length == 0) {
    *error = {ReadErrorCode::TruncatedInput, message_of(ReadErrorCode::TruncatedInput), 0};
    return nullptr;
  }
  const ReaderAllocator memory = allocator != nullptr ? *allocator : HeapAllocator;
  auto* copy = length <= SIZE_MAX - ZeroTail ? static_cast<uint8_t*>(memory.allocate(memory.context, length + ZeroTail))
                                             : nullptr;
  if (copy == nullptr) {
    *error = {ReadErrorCode::OutOfMemory, message_of(ReadErrorCode::OutOfMemory), 0};
    return nullptr;
  }
  std::memcpy(copy, input, length);
  std::memset(copy + length, 0, ZeroTail);
  ReadContext cx{memory, {copy, copy + length, copy + length + ZeroTail, error}};

  uint8_t* p = skip_space(copy);
  JsonDocument* document = nullptr;
  if (p == cx.copy.end)
    cx.fail(ReadErrorCode::EmptyInput, copy);
  else if (!has_class(*p, char_class::ContainerOpen))
    document = read_root_scalar(cx, p);
  else if (is_space(p[1]) && is_space(p[2]))
    document = read_root_container<SpacedText>(cx, p);
  else
    document = read_root_container<CompactText>(cx, p);
  if (document != nullptr) [[likely]]
    return document;

  // The truncation rule looks at the bytes, so the copy goes last.
  if (error_is_truncation(copy + error->position, cx.copy.end, error->code))
    *error = {ReadErrorCode::TruncatedInput, message_of(ReadErrorCode::TruncatedInput), length};
  memory.release(memory.context, copy);
  return nullptr;
}

void release_document(JsonDocument* document) {
  if (document == nullptr) return;
  const ReaderAllocator allocator = document->allocator;
  allocator.release(allocator.context, document->input_copy);
  allocator.release(allocator.context, document);
}

}  // namespace vellum
