// Scratch memory for the entries and key texts of one dict and for the
// output of one call, with the last large block of each kind kept for the
// next call.
#pragma once

#include <cstddef>
#include <utility>

namespace vellum {

// The C library hands blocks of a few hundred KiB back to the system when
// they are freed, so a large dict or output written again and again would
// map and fault in fresh pages each time. A block given back is kept
// instead (one per kind, up to its kind's bound, in the module's state) and
// handed out to the next writer that fits in it. Called with the
// interpreter lock held; a block is owned by one writer from take to
// give_back, so nested and concurrent writers simply allocate their own.
enum class ScratchKind { Entries, KeyTexts, Output };

// The largest block kept of each kind: 1 MiB of dict entries, 1 MiB of key
// texts, 4 MiB of output (dumps/output_buffer.hpp).
inline constexpr size_t ScratchKeepMax[] = {size_t{1} << 20, size_t{1} << 20, size_t{4} << 20};

struct ScratchBlock {
  void* data = nullptr;
  size_t capacity = 0;
};

// The blocks kept, one per kind (PyMem storage). Zero-filled memory keeps
// none.
struct ScratchBlocks {
  ScratchBlock kept[3];
  // The size of the last output that outgrew the kept output block, while
  // it stays within the C library's highest mmap threshold (0 otherwise):
  // the next such output starts at that capacity (dumps/output_buffer.cpp).
  size_t last_large_output;
};

// A block of at least `size` bytes (PyMem storage) outside the kept one, or
// an empty one with MemoryError pending.
ScratchBlock scratch_allocate(size_t size);

// Keeps the block in place of a smaller one kept, or frees it.
void scratch_keep_larger(ScratchBlock& slot, ScratchKind kind, ScratchBlock block);

// A block of at least `size` bytes (PyMem storage): the kept one if it
// fits, or an empty one with MemoryError pending.
inline ScratchBlock scratch_take(ScratchBlocks& blocks, ScratchKind kind, size_t size) {
  ScratchBlock& slot = blocks.kept[static_cast<size_t>(kind)];
  if (slot.data != nullptr && slot.capacity >= size) [[likely]]
    return std::exchange(slot, ScratchBlock{});
  return scratch_allocate(size);
}

// Keeps the block for the next taker, or frees it.
inline void scratch_give_back(ScratchBlocks& blocks, ScratchKind kind, ScratchBlock block) {
  ScratchBlock& slot = blocks.kept[static_cast<size_t>(kind)];
  if (slot.data == nullptr && block.capacity <= ScratchKeepMax[static_cast<size_t>(kind)]) [[likely]] {
    slot = block;
    return;
  }
  scratch_keep_larger(slot, kind, block);
}

// Frees the blocks kept.
void release_scratch(ScratchBlocks& blocks);

}  // namespace vellum
