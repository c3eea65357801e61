// Dict and type internals: inserting with a known hash, the hash of a byte
// run, type(None), and assigning a class its version tag. 3.13 moved the
// first three to its internal headers (still exported, under a new name for
// the insertion) and
// made the version tag assignable through an unstable call, which 3.12 has
// too; 3.11 assigns a tag when its method cache looks a name up.
#pragma once

#include "core/python.hpp"

#if PY_VERSION_HEX >= 0x030D0000
extern "C" {
PyAPI_DATA(PyTypeObject) _PyNone_Type;  // type(None)
Py_hash_t _Py_HashBytes(const void* data, Py_ssize_t size);
int _PyDict_SetItem_KnownHash_LockHeld(PyDictObject* dict, PyObject* key, PyObject* value, Py_hash_t hash);
}
#endif

namespace vellum::ffi::compat {

inline Py_hash_t hash_bytes(const void* data, Py_ssize_t size) { return _Py_HashBytes(data, size); }

// The caller holds the only reference to the dict (no other thread sees it).
inline int dict_insert_known_hash(PyObject* dict, PyObject* key, PyObject* value, Py_hash_t hash) {
#if PY_VERSION_HEX >= 0x030D0000
  return _PyDict_SetItem_KnownHash_LockHeld(reinterpret_cast<PyDictObject*>(dict), key, value, hash);
#else
  return _PyDict_SetItem_KnownHash(dict, key, value, hash);
#endif
}

// A new dict with room for n members without resizing.
inline PyObject* dict_presized(Py_ssize_t n) { return _PyDict_NewPresized(n); }

#if PY_VERSION_HEX < 0x030C0000
inline PyObject* version_probe_name = nullptr;
#endif

// Gives the class a version tag if it has none and one can be had; the tag
// changes whenever the class or a base changes, and is never reused. 0 means
// none (the interpreter ran out of tags, or the class cannot have one).
inline unsigned int assign_version_tag(PyTypeObject* type) {
#if PY_VERSION_HEX >= 0x030C0000
  PyUnstable_Type_AssignVersionTag(type);
#else
  if (type->tp_version_tag == 0) {
    // The method cache assigns a tag to the class of any exact str it looks
    // up (a name no class defines costs one walk of the bases), and clears
    // what that walk may raise. The name is made once, under the interpreter
    // lock (no guarded static: the module needs no C++ runtime).
    if (version_probe_name == nullptr) version_probe_name = PyUnicode_InternFromString("__vellum_version_probe__");
    if (version_probe_name != nullptr) {
      PyObject* pending = PyErr_GetRaisedException();
      _PyType_Lookup(type, version_probe_name);
      PyErr_SetRaisedException(pending);
    } else {
      PyErr_Clear();
    }
  }
#endif
  return type->tp_version_tag;
}

}  // namespace vellum::ffi::compat
