// The module's small fixed records, whose allocation failure is reported to
// the caller as MemoryError, and the one fatal path left: a broken internal
// invariant.
#pragma once

#include <cstddef>

namespace vellum {

// An internal invariant does not hold.
[[noreturn]] void fail_internal(const char* what);

// PyMem_Malloc that sets MemoryError when it returns null. A library must
// not end its user's process for want of memory.
[[nodiscard]] void* allocate_or_raise(size_t bytes);

}  // namespace vellum
