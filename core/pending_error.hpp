// Which exceptions no fallback may swallow.
#pragma once

#include "core/python.hpp"

namespace vellum {

// Whether the pending exception reaches the caller as it is, never turned
// into the cause of another nor cleared by a fallback: MemoryError (no fault
// of the object at hand), and every exception that does not derive from
// Exception (KeyboardInterrupt, SystemExit, GeneratorExit).
inline bool pending_error_passes_through() {
  PyObject* type = PyErr_Occurred();
  return type != nullptr &&
         (PyErr_GivenExceptionMatches(type, PyExc_MemoryError) || !PyErr_GivenExceptionMatches(type, PyExc_Exception));
}

}  // namespace vellum
