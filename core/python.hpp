// The one place the interpreter's headers are included from, with the calls
// that newer interpreters added written for the older ones (3.11 and 3.12).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#if PY_VERSION_HEX < 0x030B0000 || PY_VERSION_HEX >= 0x030E0000
#error "vellum builds for CPython 3.11, 3.12 and 3.13"
#endif

#include "core/ffi/compat_api.hpp"
