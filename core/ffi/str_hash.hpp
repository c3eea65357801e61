// A str's cached hash, read and set through the str record of the
// interpreter built for (core/ffi/compat_str.hpp); the interpreter's
// functions and objects that 3.13 declares only in its internal headers come
// with core/ffi/compat_dict.hpp.
#pragma once

#include "core/ffi/compat_dict.hpp"
#include "core/ffi/compat_str.hpp"
#include "core/python.hpp"

namespace vellum::ffi {

// A str's hash exactly as the interpreter computes it, stored in the str so
// that the interpreter never computes it again.
inline Py_hash_t set_str_hash(PyObject* str) {
  const Py_hash_t hash = compat::hash_bytes(PyUnicode_DATA(str), PyUnicode_GET_LENGTH(str) * PyUnicode_KIND(str));
  compat::set_str_hash(str, hash);
  return hash;
}

inline Py_hash_t str_hash(PyObject* str) { return compat::str_hash(str); }

}  // namespace vellum::ffi
