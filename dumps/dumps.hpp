// The serialization entry point, which module/ registers as "dumps".
#pragma once

#include "core/python.hpp"

namespace vellum {

struct DumpsState;

// dumps(obj, /, default=None, option=None) as a vectorcall, with the
// module's state of dumps.
PyObject* dumps(DumpsState& state, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);

}  // namespace vellum
