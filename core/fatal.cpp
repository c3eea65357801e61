#include "core/fatal.hpp"

#include <cstdio>
#include <cstdlib>

#include "core/python.hpp"

namespace vellum {

void fail_internal(const char* what) {
  std::fprintf(stderr, "vellum internal error: %s\n", what);
  std::abort();
}

void* allocate_or_raise(size_t bytes) {
  void* p = PyMem_Malloc(bytes);
  if (p == nullptr) PyErr_NoMemory();
  return p;
}

}  // namespace vellum
