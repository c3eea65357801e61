// Fragment: already-serialized JSON that dumps copies into its output as is.
// A type of dumps', made by module exec for each module object.
#pragma once

#include "core/export.hpp"
#include "core/python.hpp"

namespace vellum {

// The content is never null: clearing a fragment (the collector breaking a
// cycle) puts None in its place, which dumps refuses like any other
// content that is not bytes or str.
struct Fragment {
  PyObject_HEAD
  PyObject* content;
};

}  // namespace vellum

extern "C" {
// The Fragment type of `module`, with its docstring (a new reference; the
// type holds the module), or null with an exception pending.
VELLUM_EXPORT PyObject* vellum_fragmenttype_new(PyObject* module, const char* doc);
VELLUM_EXPORT PyObject* vellum_fragment_tp_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);
VELLUM_EXPORT void vellum_fragment_dealloc(PyObject* self);
}
