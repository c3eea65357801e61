// Python strs straight from valid UTF-8, in their canonical width, without
// the interpreter's decoder.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/python.hpp"

namespace vellum {

// New reference; null with MemoryError pending. Length 0 gives the shared
// empty str.
PyObject* utf8_to_str(const uint8_t* p, size_t n);

}  // namespace vellum
