// Fragment: already-serialized JSON that dumps copies into its output as is.
#pragma once

#include "src/python.hpp"

namespace vellum {

struct Fragment {
  PyObject_HEAD
  PyObject* content;
};

}  // namespace vellum

extern "C" {
PyObject* vellum_fragmenttype_new();
PyObject* vellum_fragment_tp_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);
void vellum_fragment_dealloc(PyObject* self);
}
