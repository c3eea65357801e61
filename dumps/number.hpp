// Python ints and floats as JSON numbers, and numpy's fixed-width numbers.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "core/ffi/long.hpp"
#include "dumps/options.hpp"
#include "core/python.hpp"
#include "dumps/error.hpp"
#include "dumps/layout.hpp"
#include "dumps/output_buffer.hpp"
#include "dumps/text.hpp"
#include "kernels/number/format.hpp"

namespace vellum {

inline constexpr uint64_t MaxStrictInteger = (uint64_t{1} << 53) - 1;

[[gnu::cold]] inline EncodeStatus int_out_of_range(Options options) {
  return encode_failure((options & FormattingKey) ? EncodeErrorKind::KeyIntOver64Bits : EncodeErrorKind::IntOver64Bits);
}

// An int or int subclass, -2^63 to 2^64 - 1 (under OPT_STRICT_INTEGER
// -(2^53 - 1) to 2^53 - 1). Its value is read from its own representation
// (sign, count of 30-bit digits), never through __int__ or __index__.
[[gnu::always_inline]] inline EncodeStatus format_int(PyObject* obj, DumpsState&, Options options, ScalarText& text) {
  const PyLongObject* v = ffi::as_long(obj);
  const bool negative = ffi::long_sign(v) == ffi::LongSign::Negative;
  const size_t digits = ffi::long_digit_count(v);
  const digit* d = ffi::long_digits(v);
  uint8_t* p = text.data;
  *p = '-';
  p += negative;
  if (digits <= 1) [[likely]] {
    text.end = p + format_u32(d[0], p);
    return EncodeStatus::ok();
  }
  // At least two digits; a normalized int's top digit is non-zero, so four
  // or more digits (2^90 and up) never fit.
  uint64_t magnitude = uint64_t{d[0]} | uint64_t{d[1]} << PyLong_SHIFT;
  if (digits > 3 || (digits == 3 && d[2] >= 16)) return int_out_of_range(options);
  if (digits == 3) magnitude |= uint64_t{d[2]} << (2 * PyLong_SHIFT);
  if (negative && magnitude > (uint64_t{1} << 63)) return int_out_of_range(options);
  if ((options & OPT_STRICT_INTEGER) && magnitude > MaxStrictInteger) [[unlikely]]
    return encode_failure(EncodeErrorKind::IntOver53Bits);
  text.end = p + format_u64(magnitude, p);
  return EncodeStatus::ok();
}

// Float text at p, null for NaN and the infinities (the formatter's own
// test of the exponent, so no second one here); returns the end and may
// store up to FloatOverhang bytes beyond it.
template <typename Float>
inline uint8_t* put_float(uint8_t* p, Float value) {
  if constexpr (sizeof(Float) == 8)
    return format_f64(p, value);
  else
    return format_f32(p, value);
}

// A float (exact type only: subclasses go to default).
[[gnu::always_inline]] inline EncodeStatus format_float(PyObject* obj, DumpsState&, Options, ScalarText& text) {
  text.end = put_float(text.data, PyFloat_AS_DOUBLE(obj));
  return EncodeStatus::ok();
}

template <typename Float>
[[nodiscard]] inline bool write_float(OutputBuffer& out, Float value) {
  if (!out.reserve(ScalarReserve)) [[unlikely]]
    return false;
  out.advance(static_cast<size_t>(put_float(out.cursor(), value) - out.cursor()));
  return true;
}

[[nodiscard]] inline bool write_f64(OutputBuffer& out, double value) { return write_float(out, value); }
[[nodiscard]] inline bool write_f32(OutputBuffer& out, float value) { return write_float(out, value); }

// A fixed-width integer (numpy's) at p: '-' for a negative value, then the
// magnitude, taken in the unsigned type so that the minimum is exact.
// Returns the end (at most 20 bytes on); may store up to 3 bytes beyond it.
template <typename Int>
inline uint8_t* put_fixed_int(uint8_t* p, Int value) {
  static_assert(std::is_integral_v<Int> && sizeof(Int) <= 8);
  if constexpr (sizeof(Int) == 1) {
    return format_byte(p, value);
  } else {
    using Wide = std::conditional_t<sizeof(Int) == 8, uint64_t, uint32_t>;
    Wide magnitude = static_cast<Wide>(value);
    if constexpr (std::is_signed_v<Int>) {
      *p = '-';
      p += value < 0;
      if (value < 0) magnitude = Wide{0} - magnitude;
    }
    if constexpr (sizeof(Int) == 8)
      return p + format_u64(magnitude, p);
    else
      return p + format_u32(magnitude, p);
  }
}

template <typename Int>
[[nodiscard]] inline bool write_fixed_int(OutputBuffer& out, Int value) {
  if (!out.reserve(ScalarReserve)) [[unlikely]]
    return false;
  out.advance(static_cast<size_t>(put_fixed_int(out.cursor(), value) - out.cursor()));
  return true;
}

}  // namespace vellum
