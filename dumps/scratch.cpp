#include "dumps/scratch.hpp"

#include <utility>

#include "core/allocate.hpp"
#include "core/python.hpp"

namespace vellum {

ScratchBlock scratch_allocate(size_t size) {
  void* data = allocate_or_raise(size == 0 ? 1 : size);
  if (data == nullptr) return {};
  return {data, size};
}

void scratch_keep_larger(ScratchBlock& slot, ScratchKind kind, ScratchBlock block) {
  if (block.capacity > ScratchKeepMax[static_cast<size_t>(kind)] || block.capacity <= slot.capacity) {
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
