// The allocator of the module's own blocks.
#pragma once

#include <cstddef>

#include "core/python.hpp"

namespace vellum {

// PyMem_Malloc that sets MemoryError when it returns null. A library must
// not end its user's process for want of memory.
[[nodiscard]] inline void* allocate_or_raise(size_t bytes) {
  void* p = PyMem_Malloc(bytes);
  if (p == nullptr) PyErr_NoMemory();
  return p;
}

}  // namespace vellum
