// Enum members, written as their value. Part of the recursion: included
// only by serializer-inl.hpp.
#pragma once

#include "core/pyref.hpp"
#include "dumps/per_type/enum.hpp"
#include "dumps/serializer.hpp"

namespace vellum {

// The member's value is written at the member's own depth. A value that is
// itself a member counts as a level, so that a chain of members leading back
// to itself (a value rebound after the class was made) ends at the limit.
template <class Layout>
EncodeStatus write_enum(PyObject* member, SerializeContext ctx, Layout& layout) {
  // A member is no container level, but its frames and its value's Python
  // code take stack all the same.
  if (!stack_has_room()) return encode_failure(EncodeErrorKind::TooDeep);
  DumpsState& state = layout.state();
  const PyRef value = enum_value(member, state);
  if (!value) return not_serializable(member);
  uint32_t s = ctx.state;
  if (is_enum_type(Py_TYPE(value.get()), state.types) && !enter_container(s)) return encode_failure(EncodeErrorKind::TooDeep);
  return serialize_value(SerializeContext{value.get(), ctx.default_, s}, layout);
}

}  // namespace vellum
