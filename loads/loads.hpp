// The deserialization entry point, registered on the module as "loads".
#pragma once

#include "core/export.hpp"
#include "core/python.hpp"

extern "C" VELLUM_EXPORT PyObject* loads(PyObject* self, PyObject* obj);
