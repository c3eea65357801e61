// Fragment: already-serialized JSON that dumps copies into its output as is.
#pragma once

#include "core/python.hpp"

namespace vellum {

// The content is never null: clearing a fragment (the collector breaking a
// cycle) puts None in its place, which dumps refuses like any other
// content that is not bytes or str.
struct Fragment {
  PyObject_HEAD
  PyObject* content;
};

// Creates the Fragment type, with its docstring, into the type table; false
// with an exception pending.
bool create_fragment_type(const char* doc);

}  // namespace vellum

extern "C" {
PyObject* vellum_fragmenttype_new(const char* doc);
PyObject* vellum_fragment_tp_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);
void vellum_fragment_dealloc(PyObject* self);
}
