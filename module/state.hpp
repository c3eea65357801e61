// The module object's state: everything one vellum module object holds,
// made by its exec, in the memory the interpreter gives each module object
// (PyModule_GetState), and released with it.
#pragma once

#include <type_traits>

#include "core/ffi/module_state.hpp"
#include "core/python.hpp"
#include "dumps/state.hpp"
#include "loads/state.hpp"

namespace vellum {

struct ModuleState {
  DumpsState dumps;
  LoadsState loads;
};

// The interpreter zero-fills the state before exec runs, and frees it without
// running any destructor: zero-filled memory is the empty state, and
// release_module_state gives back everything that exec took.
static_assert(std::is_trivially_destructible_v<ModuleState> && std::is_trivially_copyable_v<ModuleState>);

// The state of a vellum module object: `self` of the module's functions.
inline ModuleState& module_state(PyObject* module) { return *static_cast<ModuleState*>(ffi::module_state(module)); }

}  // namespace vellum
