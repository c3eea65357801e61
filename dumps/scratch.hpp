// Scratch memory for the entries and key texts of one dict, with the last
// large block of each kind kept for the next call.
#pragma once

#include <cstddef>

namespace vellum {

// The C library hands blocks of a few hundred KiB back to the system when
// they are freed, so a large dict written again and again would map and
// fault in fresh pages for its entries each time. A block given back is kept
// instead (one per kind, up to ScratchKeepMax bytes, in the module's state)
// and handed out to the next dict that fits in it. Called with the
// interpreter lock held; a block is owned by one writer from take to
// give_back, so nested and concurrent writers simply allocate their own.
enum class ScratchKind { Entries, KeyTexts };

inline constexpr size_t ScratchKeepMax = size_t{1} << 20;

struct ScratchBlock {
  void* data = nullptr;
  size_t capacity = 0;
};

// The blocks kept, one per kind (PyMem storage). Zero-filled memory keeps
// none.
struct ScratchBlocks {
  ScratchBlock kept[2];
};

// A block of at least `size` bytes (PyMem storage), or an empty one with
// MemoryError pending.
ScratchBlock scratch_take(ScratchBlocks& blocks, ScratchKind kind, size_t size);

// Keeps the block for the next taker, or frees it.
void scratch_give_back(ScratchBlocks& blocks, ScratchKind kind, ScratchBlock block);

// Frees the blocks kept.
void release_scratch(ScratchBlocks& blocks);

}  // namespace vellum
