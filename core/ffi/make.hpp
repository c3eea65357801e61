// Making the objects loads builds, through the interpreter's record layouts:
// ints from their 30-bit digits, lists from a run of items, ASCII strs, and
// dict insertion with the key's cached hash. The only place loads reaches
// into these layouts; what differs between interpreter versions is in the
// compat_*.hpp headers beside this one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/ffi/compat_api.hpp"
#include "core/ffi/compat_dict.hpp"
#include "core/ffi/compat_long.hpp"
#include "core/ffi/compat_str.hpp"
#include "core/ffi/str_hash.hpp"

namespace vellum::ffi {

// A new int of the magnitude `v` with the sign given: values below 2^30 go
// through the interpreter's one-digit path (which serves the small-int
// cache); larger ones are laid down as two or three 30-bit digits.
inline PyObject* int_from_magnitude(uint64_t v, bool negative) {
  constexpr unsigned Shift = PyLong_SHIFT;
  if (v < (uint64_t{1} << Shift)) {
    const long small = static_cast<long>(v);
    return PyLong_FromLong(negative ? -small : small);
  }
  const Py_ssize_t count = v < (uint64_t{1} << (2 * Shift)) ? 2 : 3;
  return compat::long_from_digits(count, negative, [v, count](digit* digits) {
    constexpr uint64_t Mask = (uint64_t{1} << Shift) - 1;
    digits[0] = static_cast<digit>(v & Mask);
    digits[1] = static_cast<digit>((v >> Shift) & Mask);
    if (count == 3) digits[2] = static_cast<digit>(v >> (2 * Shift));
  });
}

inline PyObject* int_from_u64(uint64_t v) { return int_from_magnitude(v, false); }
inline PyObject* int_from_i64(int64_t v) {
  return v < 0 ? int_from_magnitude(0 - static_cast<uint64_t>(v), true) : int_from_magnitude(static_cast<uint64_t>(v), false);
}

// A new list of the n items at `items`, whose references it takes.
inline PyObject* list_taking(PyObject* const* items, size_t n) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(n));
  if (list != nullptr && n != 0)
    std::memcpy(reinterpret_cast<PyListObject*>(list)->ob_item, items, n * sizeof(PyObject*));
  return list;
}

// A new str of the n > 0 ASCII bytes at p.
inline PyObject* ascii_str(const uint8_t* p, size_t n) {
  PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(n), 127);
  if (str != nullptr) std::memcpy(compat::ascii_text(str), p, n);
  return str;
}

// Inserts with the key's cached hash (a str whose hash is set).
inline int dict_insert(PyObject* dict, PyObject* key, PyObject* value) {
  return compat::dict_insert_known_hash(dict, key, value, str_hash(key));
}

// A new dict with room for n members without resizing.
inline PyObject* dict_for(size_t n) {
  // Presizing pays off only above the size a new dict holds anyway.
  return n > 8 ? compat::dict_presized(static_cast<Py_ssize_t>(n)) : PyDict_New();
}

}  // namespace vellum::ffi
