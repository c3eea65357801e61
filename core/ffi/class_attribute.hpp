// A class's attribute as the interpreter's own lookup finds it: in the
// class's namespace or a base's, through the method cache, without binding
// (_PyType_Lookup, private on every version and exported by each). Python
// code runs only where a namespace holds a key that is not a str and
// hashes like the name: its __eq__, which may move an instance to another
// class and free this one, so the caller holds the class.
#pragma once

#include "core/ffi/compat_api.hpp"

namespace vellum::ffi {

// Borrowed (the class or a base holds it), or null; raises nothing.
inline PyObject* class_attribute(PyTypeObject* type, PyObject* name) { return _PyType_Lookup(type, name); }

}  // namespace vellum::ffi
