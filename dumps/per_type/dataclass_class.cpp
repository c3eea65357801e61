#include "dumps/per_type/dataclass_class.hpp"

#include "core/ffi/class_attribute.hpp"
#include "core/pending_error.hpp"
#include "dumps/state.hpp"

namespace vellum {
namespace {

// Whether the class's own namespace holds `name`: 1, 0, or -1 with an
// exception pending that must reach the caller. A namespace key's __eq__ may
// raise; any other failure counts as no.
int own_namespace_has(PyTypeObject* type, PyObject* name) {
  PyObject* dict = PyType_GetDict(type);
  const int found = dict ? PyDict_Contains(dict, name) : 0;
  Py_XDECREF(dict);
  if (found >= 0) return found;
  if (pending_error_passes_through()) return -1;
  PyErr_Clear();
  return 0;
}

// Whether the class keeps the attribute `name` in a slot (its own or a
// base's): the name resolves to a member descriptor.
bool held_in_slot(PyTypeObject* type, PyObject* name) {
  if (!PyUnicode_CheckExact(name)) return false;
  const PyRef hold = PyRef::borrow(as_object(type));  // see class_attribute
  PyObject* attribute = ffi::class_attribute(type, name);
  return attribute != nullptr && Py_TYPE(attribute) == &PyMemberDescr_Type;
}

// As own_namespace_has.
int defines_own_slots(PyTypeObject* type, const TypeRegistry& types) {
  PyObject* const name = types.name<"__slots__">();
  const PyRef hold = PyRef::borrow(as_object(type));  // see class_attribute
  if (ffi::class_attribute(type, name) == nullptr) return 0;
  return own_namespace_has(type, name);
}

// False with the exception of defines_own_slots pending.
bool find_answers(PyTypeObject* type, const TypeRegistry& types, DataclassClass& answers) {
  const int own_slots = defines_own_slots(type, types);
  if (own_slots < 0) return false;
  answers.own_slots = own_slots == 1;
  if (type->tp_getattro == PyObject_GenericGetAttr) {
    PyObject* fields = ffi::class_attribute(type, types.name<"__dataclass_fields__">());
    if (fields != nullptr && PyDict_CheckExact(fields)) answers.fields = fields;
  }
  return true;
}

}  // namespace

int is_dataclass_type(PyTypeObject* type, DumpsState& state) {
  if (state.dataclass_classes.find(type) != nullptr) [[likely]]
    return 1;
  // A namespace key's __eq__ may move the instance to another class, which
  // can free this one: it is held until the answer is remembered (and so
  // through find_answers' lookups).
  const PyRef hold = PyRef::borrow(as_object(type));
  const int own = own_namespace_has(type, state.types.name<"__dataclass_fields__">());
  if (own != 1) return own;
  const unsigned int version = state.dataclass_classes.tag(type, state.probe());
  DataclassClass answers;
  if (!find_answers(type, state.types, answers)) return -1;
  state.dataclass_classes.remember(type, version, answers);
  return 1;
}

PyRef dataclass_fields(PyObject* obj, const DumpsState& state) {
  PyRef fields = PyRef::steal(PyObject_GetAttr(obj, state.types.name<"__dataclass_fields__">()));
  if (fields && !PyDict_Check(fields.get())) {
    PyErr_Format(PyExc_TypeError, "__dataclass_fields__ must be a dict, not %s", Py_TYPE(fields.get())->tp_name);
    fields = PyRef();
  }
  return fields;
}

int is_regular_field(PyObject* field, const DumpsState& state) {
  const PyRef kind = PyRef::steal(PyObject_GetAttr(field, state.types.name<"_field_type">()));
  if (!kind) return -1;
  return kind.get() == state.types.dataclass_field_marker;
}

EncodeStatus dict_holds_members(PyObject* obj, PyObject* dict, DumpsState& state, bool& holds) {
  holds = false;
  if (!PyDict_Check(dict)) return EncodeStatus::ok();
  PyTypeObject* type = Py_TYPE(obj);
  // The declared fields: the class's own dict where it was found plainly,
  // else read as the fields path reads them.
  PyRef fields;
  const DataclassClass* known = state.dataclass_classes.find(type);
  if (known != nullptr && known->fields != nullptr) {
    if (known->own_slots) return EncodeStatus::ok();
    fields = PyRef::borrow(known->fields);
  } else {
    const int own_slots = defines_own_slots(type, state.types);
    if (own_slots < 0) return python_error();
    if (own_slots == 1) return EncodeStatus::ok();
    fields = dataclass_fields(obj, state);
    if (!fields) return not_serializable(obj);
  }
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
    if (present < 0) return not_serializable(obj);
    // A field missing from the dict and from every slot was deleted, or its
    // default lives on the class: the dict still holds the members.
    if (present == 1 || !held_in_slot(Py_TYPE(obj), name)) continue;
    // Class variables and init-only pseudo-fields are never in the dict.
    const int regular = is_regular_field(field, state);
    if (regular < 0) return not_serializable(obj);
    if (regular == 1) return EncodeStatus::ok();
  }
  holds = true;
  return EncodeStatus::ok();
}

}  // namespace vellum
