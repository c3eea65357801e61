// The serialization entry point, registered on the module as "dumps".
#pragma once

#include "core/export.hpp"
#include "core/python.hpp"

extern "C" VELLUM_EXPORT PyObject* dumps(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                                         PyObject* kwnames);

inline constexpr const char DumpsDoc[] =
    "dumps(obj, /, default=None, option=None)\n--\n\nSerialize Python objects to JSON.";
