// The deserialization entry point, registered on the module as "loads".
#pragma once

#include <cstddef>

#include "src/export.hpp"
#include "src/python.hpp"

extern "C" VELLUM_EXPORT PyObject* loads(PyObject* self, PyObject* obj);

inline constexpr const char loads_doc[] = "loads(obj, /)\n--\n\nDeserialize JSON to Python objects.";

namespace vellum {

// The parse buffer for an input of `length` bytes: large enough that every
// document fits, whatever its shape, so that the outcome of loads depends
// only on the text.
size_t parse_buffer_size(size_t length);

}  // namespace vellum
