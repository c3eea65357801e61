#include "dumps/per_type/enum.hpp"

#include "core/ffi/type_version.hpp"

namespace vellum {
namespace {

// Enum classes found to keep their members' value in their "_value_" entry;
// a change to the class or a base sends it through the checks again.
ffi::ClassMemo<bool> plain_value_classes;

// Whether `self.value` of the class's members is enum.Enum's own descriptor
// reading `self._value_`, and that name is found in the instance's dict
// alone: attributes looked up in the ordinary way, "value" found as that
// very descriptor, and no class attribute "_value_".
bool has_plain_value(PyTypeObject* type) {
  if (plain_value_classes.find(type) != nullptr) [[likely]]
    return true;
  const TypeRefs& refs = type_refs;
  if (type->tp_getattro != PyObject_GenericGetAttr || refs.enum_value_descriptor == nullptr) return false;
  const unsigned int version = plain_value_classes.tag(type);
  if (_PyType_Lookup(type, refs.name_value) != refs.enum_value_descriptor) return false;
  if (_PyType_Lookup(type, refs.name_enum_value) != nullptr) return false;
  plain_value_classes.remember(type, version, true);
  return true;
}

}  // namespace

// The descriptor's getter would make two Python-level calls to return the
// entry that is read here directly.
PyRef enum_value(PyObject* member) {
  if (has_plain_value(Py_TYPE(member))) {
    PyObject** dict = _PyObject_GetDictPtr(member);
    if (dict == nullptr && PyErr_Occurred()) return PyRef();
    if (dict != nullptr && *dict != nullptr) {
      // A key of the dict may compare with Python code that replaces it.
      const PyRef held = PyRef::borrow(*dict);
      if (PyObject* value = PyDict_GetItemWithError(held.get(), type_refs.name_enum_value))
        return PyRef::borrow(value);
      if (PyErr_Occurred()) return PyRef();
    }
  }
  return PyRef::steal(PyObject_GetAttr(member, type_refs.name_value));
}

}  // namespace vellum
