// A str's cached hash, read and set through the str record of the
// interpreter built for (core/ffi/compat_str.hpp).
#pragma once

#include "core/ffi/compat_api.hpp"
#include "core/ffi/compat_str.hpp"

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
