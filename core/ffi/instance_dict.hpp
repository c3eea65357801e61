// Where an instance keeps its own attribute dict (_PyObject_GetDictPtr,
// private on every version and exported by each).
#pragma once

#include "core/ffi/compat_api.hpp"

namespace vellum::ffi {

// The instance's dict slot, whose dict may still be null; null when the
// class gives its instances none, or with an exception pending when making
// the slot failed.
inline PyObject** instance_dict_slot(PyObject* obj) { return _PyObject_GetDictPtr(obj); }

}  // namespace vellum::ffi
