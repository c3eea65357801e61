// Enum members, written as their value. Part of the recursion: included
// only by serializer-inl.hpp (and by the key conversion for enum_value).
#pragma once

#include "core/pyref.hpp"
#include "dumps/serializer.hpp"
#include "core/typeref.hpp"

namespace vellum {

// Whether the class is an enum: its metaclass is EnumMeta or derives from it.
inline bool is_enum_type(PyTypeObject* type) {
  PyTypeObject* meta = Py_TYPE(type);
  return meta == type_refs.type_enum_meta ||
         (meta != &PyType_Type && PyType_IsSubtype(meta, type_refs.type_enum_meta));
}

// The member's "value", or null with the interpreter's error pending.
PyRef enum_value(PyObject* member);

// The member's value is written at the member's own depth. A value that is
// itself a member counts as a level, so that a chain of members leading back
// to itself (a value rebound after the class was made) ends at the limit.
template <class Layout>
EncodeStatus write_enum(PyObject* member, SerializeContext ctx, Layout& layout) {
  // A member is no container level, but its frames and its value's Python
  // code take stack all the same.
  if (!stack_has_room()) return EncodeStatus::fail(EncodeErrorKind::TooDeep);
  // Reading the value may run Python code that drops the last other
  // reference to the member, which names the type of a failure.
  const PyRef hold = PyRef::borrow(member);
  const PyRef value = enum_value(member);
  if (!value) return EncodeStatus::not_serializable(member);
  uint32_t s = ctx.state;
  if (is_enum_type(Py_TYPE(value.get())) && !enter_container(s))
    return EncodeStatus::fail(EncodeErrorKind::TooDeep);
  return serialize_value(SerializeContext{value.get(), ctx.default_, s}, layout);
}

}  // namespace vellum
