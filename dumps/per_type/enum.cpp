#include "dumps/per_type/enum.hpp"

#include "core/ffi/class_attribute.hpp"
#include "core/ffi/instance_dict.hpp"

namespace vellum {
namespace {

// Whether `self.value` of the class's members is enum.Enum's own descriptor
// reading `self._value_`, and that name is found in the instance's dict
// alone: attributes looked up in the ordinary way, "value" found as that
// very descriptor, and no class attribute "_value_". Remembered per class;
// a change to the class or a base sends it through the checks again.
bool has_plain_value(PyTypeObject* type, DumpsState& state) {
  if (state.plain_value_enums.find(type) != nullptr) [[likely]]
    return true;
  const TypeRegistry& types = state.types;
  if (type->tp_getattro != PyObject_GenericGetAttr || types.enum_value_descriptor == nullptr) return false;
  const PyRef hold = PyRef::borrow(as_object(type));  // see class_attribute
  const unsigned int version = state.plain_value_enums.tag(type, state.probe());
  if (ffi::class_attribute(type, types.name<"value">()) != types.enum_value_descriptor) return false;
  if (ffi::class_attribute(type, types.name<"_value_">()) != nullptr) return false;
  state.plain_value_enums.remember(type, version, true);
  return true;
}

}  // namespace

// The descriptor's getter would make two Python-level calls to return the
// entry that is read here directly.
PyRef enum_value(PyObject* member, DumpsState& state) {
  if (has_plain_value(Py_TYPE(member), state)) {
    PyObject** dict = ffi::instance_dict_slot(member);
    if (dict == nullptr && PyErr_Occurred()) return PyRef();
    if (dict != nullptr && *dict != nullptr) {
      // A key of the dict may compare with Python code that replaces it.
      const PyRef held = PyRef::borrow(*dict);
      if (PyObject* value = PyDict_GetItemWithError(held.get(), state.types.name<"_value_">()))
        return PyRef::borrow(value);
      if (PyErr_Occurred()) return PyRef();
    }
  }
  return PyRef::steal(PyObject_GetAttr(member, state.types.name<"value">()));
}

}  // namespace vellum
