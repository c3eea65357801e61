#include "src/fatal.hpp"

#include <cstdio>
#include <cstdlib>

#include "src/python.hpp"

namespace vellum {

void fail_allocation(size_t bytes) {
  std::fprintf(stderr, "memory allocation of %zu bytes failed\n", bytes);
  std::abort();
}

void fail_internal(const char* what) {
  std::fprintf(stderr, "vellum internal error: %s\n", what);
  std::abort();
}

void* checked_malloc(size_t bytes) {
  void* p = PyMem_Malloc(bytes);
  if (p == nullptr) fail_allocation(bytes);
  return p;
}

}  // namespace vellum
