// The interpreter's int representation: a tag word holding the sign and the
// count of 30-bit digits, then the digits, least significant first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/python.hpp"

namespace vellum::ffi {

enum class LongSign : uintptr_t { Positive = 0, Zero = 1, Negative = 2 };

inline LongSign long_sign(const PyLongObject* v) { return static_cast<LongSign>(v->long_value.lv_tag & 3); }
inline size_t long_digit_count(const PyLongObject* v) { return v->long_value.lv_tag >> _PyLong_NON_SIZE_BITS; }
inline const digit* long_digits(const PyLongObject* v) { return v->long_value.ob_digit; }
inline const PyLongObject* as_long(const PyObject* obj) { return reinterpret_cast<const PyLongObject*>(obj); }

}  // namespace vellum::ffi
