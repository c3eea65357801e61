// The deserialization entry point, which module/ registers as "loads".
#pragma once

#include "core/python.hpp"

namespace vellum {

struct LoadsState;

// loads(obj, /), with the module's state of loads.
PyObject* loads(LoadsState& state, PyObject* obj);

}  // namespace vellum
