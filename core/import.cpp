#include "core/import.hpp"

namespace vellum {

PyObject* import_type_attribute(const char* module_name, const char* attribute) {
  PyObject* module = PyImport_ImportModule(module_name);
  if (module == nullptr) return nullptr;
  PyObject* dict = PyObject_GenericGetDict(module, nullptr);
  PyObject* value = dict ? PyMapping_GetItemString(dict, attribute) : nullptr;
  Py_XDECREF(dict);
  Py_DECREF(module);
  return value;
}

}  // namespace vellum
