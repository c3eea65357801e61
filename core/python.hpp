// The one place the interpreter's headers are included from.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
