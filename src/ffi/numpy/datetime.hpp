// numpy's datetime64: the unit named in a dtype's type string, and a count
// of units since 1970-01-01T00:00:00 (proleptic Gregorian, UTC, year 0
// included) as a civil date and time within years 0 to 9999.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "src/options.hpp"

namespace vellum::ffi::numpy {

enum class DatetimeUnit : uint8_t {
  NaT = 0,  // no readable unit
  Years,
  Months,
  Weeks,
  Days,
  Hours,
  Minutes,
  Seconds,
  Milliseconds,
  Microseconds,
  Nanoseconds,
  Picoseconds,
  Femtoseconds,
  Attoseconds,
  Generic,
  // A unit text outside the table above, such as a multiple ("10s").
  Unlisted,
};

// The unit of a type string such as "<M8[ns]": the text between the
// brackets after the fourth byte. "<M8" alone is the generic unit; anything
// shorter that is not, NaT.
DatetimeUnit datetime_unit_of(std::string_view typestr);

// The unit text as the type string writes it ("ns", "10s"); empty for a
// string too short to hold one.
std::string_view datetime_unit_text(std::string_view typestr);

// The unit's name in messages ("nanoseconds"); empty for Unlisted, whose
// messages name its text instead.
std::string_view datetime_unit_name(DatetimeUnit unit);

struct CivilDateTime {
  int32_t year;  // 0 to 9999
  uint8_t month;  // 1 to 12
  uint8_t day;    // 1 to 31
  uint8_t hour;
  uint8_t minute;
  uint8_t second;
  uint32_t nanosecond;  // 0 to 999999999
  Options options;      // the options that govern its text
};

enum class Datetime64Failure : uint8_t {
  None,
  UnsupportedUnit,  // NaT, ps, fs, as, generic or an unlisted unit
  Unrepresentable,  // the instant lies outside the accepted range
};

struct Datetime64Conversion {
  Datetime64Failure failure;
  CivilDateTime value;  // meaningful when failure is None
};

// Accepted: 0000-01-01T00:00:00 to 9999-12-30T22:00:00 inclusive. No step
// wraps, whatever the count.
Datetime64Conversion datetime64_to_civil(DatetimeUnit unit, int64_t count, Options options);

}  // namespace vellum::ffi::numpy
