// Enum members, written as their value. Part of the recursion: included
// only by serializer-inl.hpp.
#pragma once

#include "src/pyref.hpp"
#include "src/serialize/serializer.hpp"
#include "src/typeref.hpp"

namespace vellum {

// The member's "value" is written at the member's own depth. A value that is
// itself a member counts as a level, so that a chain of members leading back
// to itself (a value rebound after the class was made) ends at the limit.
template <class Layout>
EncodeStatus write_enum(PyObject* member, SerializeContext ctx, Layout& layout) {
  // "value" may be a property that drops the last other reference to the
  // member, which names the type of a failure.
  const PyRef hold = PyRef::borrow(member);
  const PyRef value = PyRef::steal(PyObject_GetAttr(member, type_refs.name_value));
  if (!value) return EncodeStatus::not_serializable(member);
  uint32_t s = ctx.state;
  if (Py_TYPE(Py_TYPE(value.get())) == type_refs.type_enum_meta && !enter_container(s))
    return EncodeStatus::fail(EncodeErrorKind::TooDeep);
  return serialize_value(SerializeContext{value.get(), ctx.default_, s}, layout);
}

}  // namespace vellum
