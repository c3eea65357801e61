// A class's attribute as the interpreter's own lookup finds it: in the
// class's namespace or a base's, through the method cache, without binding
// and without running any Python code (_PyType_Lookup, private on every
// version and exported by each).
#pragma once

#include "core/ffi/compat_api.hpp"

namespace vellum::ffi {

// Borrowed (the class or a base holds it), or null; raises nothing.
inline PyObject* class_attribute(PyTypeObject* type, PyObject* name) { return _PyType_Lookup(type, name); }

}  // namespace vellum::ffi
