// A class's version tag: it changes whenever the class or a base changes and
// is never reused; 0 means it has none (every supported interpreter sets it
// to 0 when the class changes; 3.13 no longer sets the "valid version tag"
// flag, so the tag alone tells). 3.12 on assign one through an
// unstable call; 3.11 assigns one when its method cache looks a name up.
#pragma once

#include "core/ffi/compat_api.hpp"

namespace vellum::ffi {

inline unsigned int version_tag(const PyTypeObject* type) { return type->tp_version_tag; }

// Gives the class a version tag if it has none and one can be had, and
// returns it; 0 when the interpreter ran out of tags or the class cannot
// have one. `probe` is a short exact str (the lookup that 3.11 assigns the
// tag through costs a walk of the bases when no class defines it).
inline unsigned int assign_version_tag(PyTypeObject* type, [[maybe_unused]] PyObject* probe) {
#if PY_VERSION_HEX >= 0x030C0000
  PyUnstable_Type_AssignVersionTag(type);
#else
  if (type->tp_version_tag == 0) {
    // The lookup clears what its walk may raise; anything pending stays.
    PyObject* pending = PyErr_GetRaisedException();
    _PyType_Lookup(type, probe);
    PyErr_SetRaisedException(pending);
  }
#endif
  return type->tp_version_tag;
}

}  // namespace vellum::ffi
