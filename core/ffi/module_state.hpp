// A module object's state, read from the module record: what
// PyModule_GetState answers, without its call and type test, for the
// module's own functions, whose `self` is the module. The record is private
// on every version; its head is the object header, the dict, the definition
// and the state up to 3.14; 3.15 dropped the definition (a module may be
// made without one), so the state follows the dict. Module exec checks the
// read against PyModule_GetState before any function can use it.
#pragma once

#include "core/ffi/compat_api.hpp"

namespace vellum::ffi {

struct ModuleHead {
  PyObject_HEAD
  PyObject* dict;
#if PY_VERSION_HEX < 0x030F0000
  PyModuleDef* def;
#endif
  void* state;
};

[[gnu::always_inline]] inline void* module_state(PyObject* module) {
  return reinterpret_cast<const ModuleHead*>(module)->state;
}

}  // namespace vellum::ffi
