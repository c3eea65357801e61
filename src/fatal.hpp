// Allocation of the module's small fixed records. Running out of memory for
// one of these leaves nothing sensible to do: report and abort.
#pragma once

#include <cstddef>

namespace vellum {

[[noreturn]] void fail_allocation(size_t bytes);

// An internal invariant does not hold.
[[noreturn]] void fail_internal(const char* what);

// PyMem_Malloc that never returns null.
void* checked_malloc(size_t bytes);

template <typename T>
T* checked_new_array(size_t count) {
  return static_cast<T*>(checked_malloc(sizeof(T) * count));
}

}  // namespace vellum
