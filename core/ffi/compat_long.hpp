// Where the interpreter keeps an int's sign and digit count. 3.12 put them in
// one tag word (the count of 30-bit digits above three flag bits, the sign in
// the low two: 0 positive, 1 zero, 2 negative); 3.11 keeps the count in the
// object's size, negative for a negative int. The digits themselves, least
// significant first, lie at the same place on both. A new int is made by the
// public writer calls from 3.14 (which deprecated the private allocation),
// by hand before. Only core/ffi/long.hpp and core/ffi/make.hpp use this.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/ffi/compat_api.hpp"

namespace vellum::ffi::compat {

static_assert(PyLong_SHIFT == 30, "digits of 30 bits");

#if PY_VERSION_HEX >= 0x030C0000
// 0 positive, 1 zero, 2 negative.
inline uintptr_t long_sign_code(const PyLongObject* v) { return v->long_value.lv_tag & 3; }
inline size_t long_digit_count(const PyLongObject* v) { return v->long_value.lv_tag >> _PyLong_NON_SIZE_BITS; }
inline const digit* long_digits(const PyLongObject* v) { return v->long_value.ob_digit; }
#else
inline Py_ssize_t long_signed_size(const PyLongObject* v) { return reinterpret_cast<const PyVarObject*>(v)->ob_size; }
// Without branches: the signs of an array's ints are often random, and a
// mispredicted sign test per int made int_array dumps a quarter slower than
// on the newer versions.
inline uintptr_t long_sign_code(const PyLongObject* v) {
  const Py_ssize_t size = long_signed_size(v);
  return static_cast<uintptr_t>(size < 0) << 1 | static_cast<uintptr_t>(size == 0);
}
inline size_t long_digit_count(const PyLongObject* v) {
  const Py_ssize_t size = long_signed_size(v);
  const Py_ssize_t all_sign = size >> (sizeof(Py_ssize_t) * 8 - 1);  // 0 or -1
  return static_cast<size_t>((size ^ all_sign) - all_sign);
}
inline const digit* long_digits(const PyLongObject* v) { return v->ob_digit; }
#endif

// A new int of `count` digits, the most significant one not zero, with the
// sign given; fill(digit*) lays the digits down, least significant first.
template <class Fill>
inline PyObject* long_from_digits(Py_ssize_t count, bool negative, Fill fill) {
#if PY_VERSION_HEX >= 0x030E0000
  void* digits = nullptr;
  PyLongWriter* writer = PyLongWriter_Create(negative, count, &digits);
  if (writer == nullptr) return nullptr;
  fill(static_cast<digit*>(digits));
  return PyLongWriter_Finish(writer);
#else
  PyLongObject* v = _PyLong_New(count);
  if (v == nullptr) return nullptr;
#if PY_VERSION_HEX >= 0x030C0000
  fill(v->long_value.ob_digit);
  v->long_value.lv_tag = (static_cast<uintptr_t>(count) << _PyLong_NON_SIZE_BITS) | (negative ? 2u : 0u);
#else
  fill(v->ob_digit);
  Py_SET_SIZE(v, negative ? -count : count);
#endif
  return reinterpret_cast<PyObject*>(v);
#endif
}

// The int's low 8 * n bits as big-endian bytes; false (and no exception
// pending) when it is negative or does not fit.
inline bool long_to_big_endian(PyLongObject* v, unsigned char* bytes, size_t n) {
#if PY_VERSION_HEX >= 0x030D0000
  return _PyLong_AsByteArray(v, bytes, n, /*little_endian=*/0, /*is_signed=*/0, /*with_exceptions=*/0) == 0;
#else
  if (_PyLong_AsByteArray(v, bytes, n, /*little_endian=*/0, /*is_signed=*/0) == 0) return true;
  PyErr_Clear();
  return false;
#endif
}

}  // namespace vellum::ffi::compat
