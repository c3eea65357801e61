// type(None), a static type of the interpreter: declared by the public
// headers up to 3.12, only by the internal ones from 3.13 (still exported).
#pragma once

#include "core/ffi/compat_api.hpp"

#if PY_VERSION_HEX >= 0x030D0000
extern "C" {
PyAPI_DATA(PyTypeObject) _PyNone_Type;
}
#endif

namespace vellum::ffi {

inline constexpr PyTypeObject* NoneType = &_PyNone_Type;

}  // namespace vellum::ffi
