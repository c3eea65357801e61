// Dataclass instances as JSON objects. Part of the recursion: included only
// by serializer-inl.hpp.
#pragma once

#include "core/pyref.hpp"
#include "dumps/dict-inl.hpp"
#include "dumps/per_type/dataclass_class.hpp"
#include "dumps/serializer.hpp"
#include "dumps/state.hpp"

namespace vellum {

inline bool is_private_name(Utf8View name) { return name.size != 0 && name.data[0] == '_'; }

// Every instance attribute whose name does not begin with an underscore,
// declared or not, in the dict's order.
template <class Layout>
EncodeStatus write_dataclass_dict(PyObject* dict, SerializeContext ctx, Layout& layout) {
  if (PyDict_GET_SIZE(dict) == 0) return layout.empty_object() ? EncodeStatus::ok() : python_error();
  return write_dict_plain(dict, ctx, layout, [](Utf8View name) { return is_private_name(name); });
}

// The declared regular fields in declaration order, each read from the
// instance. The field dict belongs to the class, and attribute reads run
// Python code that may change it: every name, field and value is held
// while it is used.
template <class Layout>
EncodeStatus write_dataclass_fields(PyObject* obj, SerializeContext ctx, Layout& layout) {
  const PyRef fields = dataclass_fields(obj, layout.state());
  if (!fields) return not_serializable(obj);
  if (PyDict_GET_SIZE(fields.get()) == 0) return layout.empty_object() ? EncodeStatus::ok() : python_error();
  if (!layout.open_object()) return python_error();
  Py_ssize_t pos = 0;
  PyObject* name;
  PyObject* field;
  bool first = true;
  for (Py_ssize_t remaining = PyDict_GET_SIZE(fields.get());
       remaining > 0 && PyDict_Next(fields.get(), &pos, &name, &field); --remaining) {
    const PyRef name_ref = PyRef::borrow(name);
    const PyRef field_ref = PyRef::borrow(field);
    const int regular = is_regular_field(field, layout.state());
    if (regular < 0) return not_serializable(obj);
    if (regular == 0) continue;
    Utf8View text;
    VELLUM_TRY(dict_key_utf8(name, text));
    if (is_private_name(text)) continue;
    const PyRef value = PyRef::steal(PyObject_GetAttr(obj, name));
    if (!value) return not_serializable(obj);
    VELLUM_TRY(write_member(text, value.get(), first, ctx, layout));
    first = false;
  }
  return layout.close_object() ? EncodeStatus::ok() : python_error();
}

// A dataclass counts as a container level; its members come from its
// __dict__ where that holds them, else from its declared fields.
template <class Layout>
EncodeStatus write_dataclass(PyObject* obj, SerializeContext ctx, Layout& layout) {
  uint32_t s = ctx.state;
  if (!enter_dataclass(s)) return encode_failure(EncodeErrorKind::TooDeep);
  const SerializeContext members{obj, ctx.default_, s};
  // An instance without __dict__ (slots) answers without an exception made
  // and cleared; any other failure to read it is cleared as well, unless it
  // must reach the caller.
  PyObject* found = nullptr;
  DumpsState& state = layout.state();
  if (PyObject_GetOptionalAttr(obj, state.types.name<"__dict__">(), &found) <= 0) {
    if (pending_error_passes_through()) return python_error();
    PyErr_Clear();
    return write_dataclass_fields(obj, members, layout);
  }
  PyRef dict = PyRef::steal(found);
  bool holds;
  VELLUM_TRY(dict_holds_members(obj, dict.get(), state, holds));
  if (holds) return write_dataclass_dict(dict.get(), members, layout);
  dict = PyRef();
  return write_dataclass_fields(obj, members, layout);
}

}  // namespace vellum
