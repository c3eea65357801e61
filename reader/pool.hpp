// A first-fit allocator over one caller-supplied buffer, for the reader: the
// whole document is released by freeing that buffer once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "reader/document.hpp"

namespace vellum {

// Header of every chunk; a block handed out starts right after it.
struct PoolChunk {
  uint64_t size;    // bytes including this header, a multiple of 16
  PoolChunk* next;  // next free chunk by address; meaningful only while free
};
static_assert(sizeof(PoolChunk) == 16);

// The context record, placed at the buffer's start rounded up to 16. Free
// chunks are linked by increasing address and never adjacent; all chunks tile
// the space after this record.
struct PoolAllocator {
  uint64_t size;         // from this record to the end of the usable buffer, a multiple of 16
  PoolChunk* free_list;  // null when nothing is free

  // Sets `allocator` to a failing allocator first, then, when the buffer can
  // hold a pool (64 bytes or more), to the pool laid over it.
  static bool init(ReaderAllocator* allocator, void* buffer, size_t size);

  static void* allocate(void* context, size_t size);
  static void* reallocate(void* context, void* block, size_t old_size, size_t new_size);
  static void release(void* context, void* block);
};
static_assert(sizeof(PoolAllocator) == 16);

// The pool buffer for an input of `length` bytes: large enough that every
// document fits, whatever its shape, so that whether a text reads depends
// only on the text.
size_t parse_buffer_size(size_t length);

}  // namespace vellum
