// Dataclass instances as JSON objects. Part of the recursion: included only
// by serializer-inl.hpp.
#pragma once

#include "src/pyref.hpp"
#include "src/serialize/dict.hpp"
#include "src/serialize/serializer.hpp"
#include "src/typeref.hpp"

namespace vellum {

inline bool is_private_name(Utf8View name) { return name.size != 0 && name.data[0] == '_'; }

// The declared fields that are regular fields (not class variables or
// init-only pseudo-fields), as a new reference to the class's field dict;
// null with the interpreter's error pending when it cannot be read.
inline PyRef dataclass_fields(PyObject* obj) {
  PyRef fields = PyRef::steal(PyObject_GetAttr(obj, type_refs.name_dataclass_fields));
  if (fields && !PyDict_Check(fields.get())) {
    PyErr_Format(PyExc_TypeError, "__dataclass_fields__ must be a dict, not %s", Py_TYPE(fields.get())->tp_name);
    fields = PyRef();
  }
  return fields;
}

// Whether the field object marks a regular field: 1, 0, or -1 with the
// interpreter's error pending.
inline int is_regular_field(PyObject* field) {
  const PyRef kind = PyRef::steal(PyObject_GetAttr(field, type_refs.name_field_type));
  if (!kind) return -1;
  return kind.get() == type_refs.dataclass_field_marker;
}

// Whether the instance's __dict__ holds its members: not where the class
// itself defines __slots__, nor where any declared regular field is missing
// from it (one kept in an inherited slot, one whose default lives on the
// class). Those instances take the fields path, which reads every declared
// field; the others keep the dict path and its extra attributes.
inline EncodeStatus dict_holds_members(PyObject* obj, PyObject* dict, bool& holds) {
  holds = false;
  if (!PyDict_Check(dict)) return EncodeStatus::ok();
  PyTypeObject* type = Py_TYPE(obj);
  if (_PyType_Lookup(type, type_refs.name_slots) != nullptr) {
    PyObject* own = PyType_GetDict(type);
    const int own_slots = own ? PyDict_Contains(own, type_refs.name_slots) : 0;
    Py_XDECREF(own);
    if (own_slots < 0) PyErr_Clear();
    if (own_slots != 0) return EncodeStatus::ok();
  }
  const PyRef fields = dataclass_fields(obj);
  if (!fields) return EncodeStatus::not_serializable(obj);
  // __init__ sets the fields in declaration order, so the dict's keys are
  // as a rule the very field names, in step: compared by identity, a name
  // is found without a lookup (and without running any Python code).
  Py_ssize_t pos = 0;
  Py_ssize_t dict_pos = 0;
  PyObject* name;
  PyObject* field;
  PyObject* dict_key = nullptr;
  PyObject* ignored;
  bool in_step = true;
  for (Py_ssize_t remaining = PyDict_GET_SIZE(fields.get());
       remaining > 0 && PyDict_Next(fields.get(), &pos, &name, &field); --remaining) {
    if (in_step) in_step = PyDict_Next(dict, &dict_pos, &dict_key, &ignored) && dict_key == name;
    if (in_step) continue;
    // A lookup may compare keys with Python code that changes either dict.
    const PyRef name_ref = PyRef::borrow(name);
    const PyRef field_ref = PyRef::borrow(field);
    const int present = PyDict_Contains(dict, name);
    if (present < 0) return EncodeStatus::not_serializable(obj);
    if (present == 1) continue;
    // Class variables and init-only pseudo-fields are never in the dict.
    const int regular = is_regular_field(field);
    if (regular < 0) return EncodeStatus::not_serializable(obj);
    if (regular == 1) return EncodeStatus::ok();
  }
  holds = true;
  return EncodeStatus::ok();
}

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
  const PyRef fields = dataclass_fields(obj);
  if (!fields) return EncodeStatus::not_serializable(obj);
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
    const int regular = is_regular_field(field);
    if (regular < 0) return EncodeStatus::not_serializable(obj);
    if (regular == 0) continue;
    Utf8View text;
    VELLUM_TRY(dict_key_utf8(name, text));
    if (is_private_name(text)) continue;
    const PyRef value = PyRef::steal(PyObject_GetAttr(obj, name));
    if (!value) return EncodeStatus::not_serializable(obj);
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
  if (!enter_dataclass(s)) return EncodeStatus::fail(EncodeErrorKind::TooDeep);
  const PyRef hold = PyRef::borrow(obj);
  const SerializeContext members{obj, ctx.default_, s};
  // An instance without __dict__ (slots) answers without an exception made
  // and cleared; any other failure to read it is cleared as well.
  PyObject* found = nullptr;
  if (PyObject_GetOptionalAttr(obj, type_refs.name_dict, &found) <= 0) {
    PyErr_Clear();
    return write_dataclass_fields(obj, members, layout);
  }
  PyRef dict = PyRef::steal(found);
  bool holds;
  VELLUM_TRY(dict_holds_members(obj, dict.get(), holds));
  if (holds) return write_dataclass_dict(dict.get(), members, layout);
  dict = PyRef();
  return write_dataclass_fields(obj, members, layout);
}

}  // namespace vellum
