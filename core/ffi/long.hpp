// The interpreter's int representation: its sign, the count of 30-bit
// digits and the digits, least significant first, read through the layout
// of the interpreter built for (core/ffi/compat_long.hpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/ffi/compat_api.hpp"
#include "core/ffi/compat_long.hpp"

namespace vellum::ffi {

enum class LongSign : uintptr_t { Positive = 0, Zero = 1, Negative = 2 };

inline LongSign long_sign(const PyLongObject* v) { return static_cast<LongSign>(compat::long_sign_code(v)); }
inline size_t long_digit_count(const PyLongObject* v) { return compat::long_digit_count(v); }
inline const digit* long_digits(const PyLongObject* v) { return compat::long_digits(v); }
inline const PyLongObject* as_long(const PyObject* obj) { return reinterpret_cast<const PyLongObject*>(obj); }

// The int's low 8 * n bits as big-endian bytes; false, with no
// exception pending, when it is negative or larger.
inline bool long_to_big_endian(PyObject* v, unsigned char* bytes, size_t n) {
  return compat::long_to_big_endian(reinterpret_cast<PyLongObject*>(v), bytes, n);
}

}  // namespace vellum::ffi
