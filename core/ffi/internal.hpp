// Interpreter functions and objects that are exported but declared only in its internal
// headers.
#pragma once

#include "core/python.hpp"

extern "C" {
PyAPI_DATA(PyTypeObject) _PyNone_Type;  // type(None)
Py_hash_t _Py_HashBytes(const void* data, Py_ssize_t size);
int _PyDict_SetItem_KnownHash_LockHeld(PyDictObject* dict, PyObject* key, PyObject* value, Py_hash_t hash);
}

namespace vellum::ffi {

// A str's hash exactly as the interpreter computes it, stored in the str so
// that the interpreter never computes it again.
inline Py_hash_t set_str_hash(PyObject* str) {
  const Py_hash_t hash = _Py_HashBytes(PyUnicode_DATA(str), PyUnicode_GET_LENGTH(str) * PyUnicode_KIND(str));
  reinterpret_cast<PyASCIIObject*>(str)->hash = hash;
  return hash;
}

inline Py_hash_t str_hash(PyObject* str) { return reinterpret_cast<PyASCIIObject*>(str)->hash; }

}  // namespace vellum::ffi
