// Python objects from a reader document, in one walk.
#pragma once

#include "reader/value.hpp"
#include "core/python.hpp"

namespace vellum {

// A new reference to the object for `root`, or null with the interpreter's
// exception (MemoryError) pending; nothing partly built survives.
PyObject* build_object(const JsonValue* root);

}  // namespace vellum
