#include "dumps/scratch.hpp"

#include <utility>

#include "core/python.hpp"

namespace vellum {

namespace {

// Guarded by the interpreter lock, which dumps holds throughout.
ScratchBlock kept[2];

ScratchBlock& kept_block(ScratchKind kind) { return kept[static_cast<size_t>(kind)]; }

}  // namespace

ScratchBlock scratch_take(ScratchKind kind, size_t size) {
  ScratchBlock& slot = kept_block(kind);
  if (slot.data != nullptr && slot.capacity >= size) return std::exchange(slot, ScratchBlock{});
  void* data = PyMem_Malloc(size == 0 ? 1 : size);
  if (data == nullptr) {
    PyErr_NoMemory();
    return {};
  }
  return {data, size};
}

void scratch_give_back(ScratchKind kind, ScratchBlock block) {
  ScratchBlock& slot = kept_block(kind);
  if (block.capacity > ScratchKeepMax || block.capacity <= slot.capacity) {
    PyMem_Free(block.data);
    return;
  }
  PyMem_Free(slot.data);
  slot = block;
}

}  // namespace vellum
