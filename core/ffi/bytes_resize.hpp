// Resizing a bytes object that no one else holds yet, in place where the
// allocator allows (_PyBytes_Resize, private on every version and exported
// by each).
#pragma once

#include "core/ffi/compat_api.hpp"

namespace vellum::ffi {

// Sets the size to `size` (writing its terminating zero) and may move the
// object. On failure the object is released, `bytes` is null and
// MemoryError is pending; false.
[[nodiscard]] inline bool resize_bytes(PyObject*& bytes, Py_ssize_t size) { return _PyBytes_Resize(&bytes, size) == 0; }

}  // namespace vellum::ffi
