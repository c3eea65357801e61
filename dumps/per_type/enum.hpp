// Enum members: what makes a class an enum, and a member's value. The
// writer, which recurses into the value, is enum-inl.hpp.
#pragma once

#include "core/pyref.hpp"
#include "core/python.hpp"
#include "dumps/state.hpp"

namespace vellum {

// Whether the class is an enum: its metaclass is EnumMeta or derives from it.
inline bool is_enum_type(PyTypeObject* type, const TypeRegistry& types) {
  PyTypeObject* meta = Py_TYPE(type);
  PyTypeObject* enum_meta = as_type(types.enum_meta);
  return meta == enum_meta || (meta != &PyType_Type && PyType_IsSubtype(meta, enum_meta));
}

// The member's "value", or null with the interpreter's error pending.
PyRef enum_value(PyObject* member, DumpsState& state);

}  // namespace vellum
