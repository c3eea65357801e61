// The reader's entry point and the document it builds: one block holding a
// 64-byte header and the value records in document order, plus the private,
// zero-tailed copy of the input that string records point into.
#pragma once

#include <cstddef>
#include <cstdint>

#include "reader/value.hpp"

namespace vellum {

// Where the reader takes all its memory from.
struct ReaderAllocator {
  void* (*allocate)(void* context, size_t size);
  // Grows a block; on null the old block stays allocated and unchanged.
  void* (*reallocate)(void* context, void* block, size_t old_size, size_t new_size);
  void (*release)(void* context, void* block);
  void* context;
};

struct JsonDocument {
  JsonValue* root;
  ReaderAllocator allocator;
  size_t bytes_read;
  size_t value_count;
  uint8_t* input_copy;
};
static_assert(sizeof(JsonDocument) == 4 * sizeof(JsonValue), "the header spans four records");

// The root container has depth 0.
inline constexpr uint32_t MaxContainerDepth = 1023;
// Zero bytes behind the copy of the input; they stop every scanning loop, and
// let the number reader load eight bytes at any position up to the end.
inline constexpr size_t ZeroTail = 8;

// Reads one JSON text. A null allocator means the process heap. On failure
// fills `error` (position <= length, on a character boundary), gives back
// every block taken and returns null; on success `error` is untouched.
JsonDocument* read_document(const uint8_t* input, size_t length, const ReaderAllocator* allocator,
                            DecodeError* error);

// Gives both blocks of a document back to its allocator. Null is ignored.
void release_document(JsonDocument* document);

// True when a failure at `position` only means that the text ended too early
// (`end` is the end of the input inside the copy); such failures are reported
// as "unexpected end of data" at the input length.
bool error_is_truncation(const uint8_t* position, const uint8_t* end, ReadErrorCode code);

}  // namespace vellum
