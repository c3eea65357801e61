#include "dumps/scratch.hpp"

#include <utility>

#include "core/allocate.hpp"
#include "core/python.hpp"

namespace vellum {

ScratchBlock scratch_take(ScratchBlocks& blocks, ScratchKind kind, size_t size) {
  ScratchBlock& slot = blocks.kept[static_cast<size_t>(kind)];
  if (slot.data != nullptr && slot.capacity >= size) return std::exchange(slot, ScratchBlock{});
  void* data = allocate_or_raise(size == 0 ? 1 : size);
  if (data == nullptr) return {};
  return {data, size};
}

void scratch_give_back(ScratchBlocks& blocks, ScratchKind kind, ScratchBlock block) {
  ScratchBlock& slot = blocks.kept[static_cast<size_t>(kind)];
  if (block.capacity > ScratchKeepMax || block.capacity <= slot.capacity) {
    PyMem_Free(block.data);
    return;
  }
  PyMem_Free(slot.data);
  slot = block;
}

void release_scratch(ScratchBlocks& blocks) {
  for (ScratchBlock& block : blocks.kept) PyMem_Free(std::exchange(block, ScratchBlock{}).data);
}

}  // namespace vellum
