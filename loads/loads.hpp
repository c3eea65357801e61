// The deserialization entry point, which module/ registers as "loads".
#pragma once

#include "core/python.hpp"

namespace vellum {

struct LoadsState;

// loads(obj, /, *, parse_float=None), with the module's state of loads.
PyObject* loads(LoadsState& state, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);

}  // namespace vellum
