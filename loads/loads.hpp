// The deserialization entry point, registered on the module as "loads".
#pragma once

#include "core/export.hpp"
#include "core/python.hpp"

extern "C" VELLUM_EXPORT PyObject* loads(PyObject* self, PyObject* obj);

inline constexpr const char LoadsDoc[] = "loads(obj, /)\n--\n\nDeserialize JSON to Python objects.";
