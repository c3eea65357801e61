// A module object's state, read from the module record: what
// PyModule_GetState answers, without its call and type test, for the
// module's own functions, whose `self` is the module. The record is private
// on every version; its head (the object header, the dict, the definition,
// the state) is the same on 3.11, 3.12 and 3.13. Module exec checks the
// read against PyModule_GetState before any function can use it.
#pragma once

#include "core/ffi/compat_api.hpp"

namespace vellum::ffi {

struct ModuleHead {
  PyObject_HEAD
  PyObject* dict;
  PyModuleDef* def;
  void* state;
};

[[gnu::always_inline]] inline void* module_state(PyObject* module) {
  return reinterpret_cast<const ModuleHead*>(module)->state;
}

}  // namespace vellum::ffi
