// The serialization entry point, registered on the module as "dumps".
#pragma once

#include "core/export.hpp"
#include "core/python.hpp"

extern "C" VELLUM_EXPORT PyObject* dumps(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                                         PyObject* kwnames);
