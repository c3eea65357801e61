// numpy datetime64 values: the unit read from an array or scalar, the text
// of a converted value, and the two failures of a value that has none.
#pragma once

#include <cstdint>
#include <cstring>

#include "core/pyref.hpp"
#include "core/python.hpp"
#include "dumps/error.hpp"
#include "dumps/options.hpp"
#include "dumps/per_type/datetime64_calendar.hpp"
#include "kernels/number/digits.hpp"
#include "kernels/number/format.hpp"

namespace vellum {

struct TypeRegistry;

// The unit of a datetime64 array or scalar, from its dtype.descr type
// string. A lookup that raises leaves the unit unreadable (NaT), which
// fails when a value is converted, unless it must reach the caller (that
// fails here). A unit text outside the unit table gives Unlisted, with the
// type string in `typestr`.
EncodeStatus read_datetime_unit(PyObject* obj, const TypeRegistry& types, DatetimeUnit& unit, PyRef& typestr);

// "unsupported numpy.datetime64 unit: " and the unit text of a type string
// that read_datetime_unit found Unlisted.
[[gnu::cold]] EncodeStatus unlisted_unit(PyObject* typestr);

// The failure of a count that datetime64_to_civil could not convert.
[[gnu::cold]] EncodeStatus datetime64_failure(Datetime64Failure failure, DatetimeUnit unit,
                                              int64_t count);

// The longest text: "YYYY-MM-DDTHH:MM:SS.ffffff+00:00".
inline constexpr size_t MaxDatetime64Text = 32;

// "YYYY-MM-DDTHH:MM:SS", the microseconds unless omitted or below one, and
// the UTC suffix under OPT_NAIVE_UTC, at p; returns the end.
inline uint8_t* put_datetime64(uint8_t* p, const CivilDateTime& v, Options options) {
  number::write_4(static_cast<uint32_t>(v.year), p);
  p[4] = '-';
  number::copy_two_digits(p + 5, v.month);
  p[7] = '-';
  number::copy_two_digits(p + 8, v.day);
  p[10] = 'T';
  number::copy_two_digits(p + 11, v.hour);
  p[13] = ':';
  number::copy_two_digits(p + 14, v.minute);
  p[16] = ':';
  number::copy_two_digits(p + 17, v.second);
  p += 19;
  if (!(options & OPT_OMIT_MICROSECONDS) && v.nanosecond >= 1000) {
    const uint32_t micro = v.nanosecond / 1000;
    *p = '.';
    number::copy_two_digits(p + 1, micro / 10000);
    number::copy_two_digits(p + 3, micro / 100 % 100);
    number::copy_two_digits(p + 5, micro % 100);
    p += 7;
  }
  if (options & OPT_NAIVE_UTC) {
    if (options & OPT_UTC_Z) {
      *p++ = 'Z';
    } else {
      std::memcpy(p, "+00:00", 6);
      p += 6;
    }
  }
  return p;
}

}  // namespace vellum
