// Module set-up across interpreter versions: adding a value whose reference
// the module takes (PyModule_Add is 3.13's), and the definition slots each
// version knows beside exec. 3.12 added the sub-interpreter slot: each
// module object holds its own state, so every kind of interpreter may load
// it, from 3.13 also those with a lock of their own (3.12's datetime module,
// whose C API vellum uses, does not load in those). 3.13 added the slot that
// tells a free-threaded build the module needs the interpreter lock.
#pragma once

#include <cstddef>

#include "core/ffi/compat_api.hpp"

namespace vellum::ffi::compat {

// Takes the value's reference, also on failure; a null value reports the
// exception already pending.
inline int module_add(PyObject* module, const char* name, PyObject* value) {
#if PY_VERSION_HEX >= 0x030D0000
  return PyModule_Add(module, name, value);
#else
  if (value == nullptr) return -1;
  const int added = PyModule_AddObjectRef(module, name, value);
  Py_DECREF(value);
  return added;
#endif
}

// The definition slots beside exec, and how many there are.
inline const PyModuleDef_Slot VersionSlots[] = {
#if PY_VERSION_HEX >= 0x030D0000
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#elif PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_SUPPORTED},
#endif
#if PY_VERSION_HEX >= 0x030D0000
    {Py_mod_gil, Py_MOD_GIL_USED},
#endif
    {0, nullptr},
};
inline constexpr size_t VersionSlotCount = sizeof(VersionSlots) / sizeof(VersionSlots[0]) - 1;

}  // namespace vellum::ffi::compat
