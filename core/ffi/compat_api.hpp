// The one include of the interpreter's headers, with the stop for any other
// version, and the calls of the C API that 3.12 and 3.13 added, written for
// the older interpreters this module also builds on under the same names:
// the code above never tests a version for them. Code outside core/ffi
// reaches all of it through core/python.hpp.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#if PY_VERSION_HEX < 0x030B0000 || PY_VERSION_HEX >= 0x03100000
#error "vellum builds for CPython 3.11 to 3.15"
#endif

#if PY_VERSION_HEX < 0x030C0000
// The pending exception as one object (normalized, its traceback attached),
// and back.
inline PyObject* PyErr_GetRaisedException() {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) return nullptr;
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr && traceback != nullptr) PyException_SetTraceback(value, traceback);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  return value;
}

inline void PyErr_SetRaisedException(PyObject* exception) {
  if (exception == nullptr) {
    PyErr_Clear();
    return;
  }
  PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exception))), exception,
                PyException_GetTraceback(exception));
}

// A new reference to the class's namespace.
inline PyObject* PyType_GetDict(PyTypeObject* type) { return Py_XNewRef(type->tp_dict); }
#endif

#if PY_VERSION_HEX < 0x030D0000
// 1 with the attribute in *result, 0 when it is missing (an AttributeError,
// cleared), -1 with another exception pending.
inline int PyObject_GetOptionalAttr(PyObject* obj, PyObject* name, PyObject** result) {
  return _PyObject_LookupAttr(obj, name, result);
}

inline int PyObject_HasAttrWithError(PyObject* obj, PyObject* name) {
  PyObject* found = nullptr;
  const int has = _PyObject_LookupAttr(obj, name, &found);
  Py_XDECREF(found);
  return has;
}
#endif

namespace vellum::ffi::compat {

// A new reference to one of the interpreter's singletons (None, True, False,
// the empty str). From 3.12 on they are immortal: their count never changes,
// so the reference costs nothing. 3.11 counts them like any object.
[[gnu::always_inline]] inline PyObject* singleton_ref(PyObject* singleton) {
#if PY_VERSION_HEX >= 0x030C0000
  return singleton;
#else
  return Py_NewRef(singleton);
#endif
}

}  // namespace vellum::ffi::compat
