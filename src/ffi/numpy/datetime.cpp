#include "src/ffi/numpy/datetime.hpp"

#include <iterator>
#include <limits>

namespace vellum::ffi::numpy {
namespace {

struct UnitEntry {
  DatetimeUnit unit;
  std::string_view text;
  std::string_view name;
};

constexpr UnitEntry Units[] = {
    {DatetimeUnit::NaT, "", "NaT"},
    {DatetimeUnit::Years, "Y", "years"},
    {DatetimeUnit::Months, "M", "months"},
    {DatetimeUnit::Weeks, "W", "weeks"},
    {DatetimeUnit::Days, "D", "days"},
    {DatetimeUnit::Hours, "h", "hours"},
    {DatetimeUnit::Minutes, "m", "minutes"},
    {DatetimeUnit::Seconds, "s", "seconds"},
    {DatetimeUnit::Milliseconds, "ms", "milliseconds"},
    {DatetimeUnit::Microseconds, "us", "microseconds"},
    {DatetimeUnit::Nanoseconds, "ns", "nanoseconds"},
    {DatetimeUnit::Picoseconds, "ps", "picoseconds"},
    {DatetimeUnit::Femtoseconds, "fs", "femtoseconds"},
    {DatetimeUnit::Attoseconds, "as", "attoseconds"},
    {DatetimeUnit::Generic, "generic", "generic"},
};

constexpr bool table_in_code_order() {
  for (size_t i = 0; i < std::size(Units); ++i)
    if (static_cast<size_t>(Units[i].unit) != i) return false;
  return true;
}
static_assert(table_in_code_order());

constexpr int64_t SecondsPerDay = 86400;

// Days from 1970-01-01 to the given date, and back (proleptic Gregorian,
// eras of 400 years).
constexpr int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

struct Date {
  int64_t year;
  unsigned month, day;
};

constexpr Date civil_from_days(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

// The accepted range, in seconds since the epoch.
constexpr int64_t MinSeconds = days_from_civil(0, 1, 1) * SecondsPerDay;
constexpr int64_t MaxSeconds = days_from_civil(9999, 12, 30) * SecondsPerDay + 22 * 3600;
static_assert(MinSeconds == -62167219200 && MaxSeconds == 253402207200);
static_assert(civil_from_days(-719528).year == 0 && civil_from_days(2932895).day == 30);

// Quotient rounded down and the remainder that goes with it (0 <= r < d),
// for d > 0; exact for every count, the minimum included.
struct FloorDivision {
  int64_t quotient;
  int64_t remainder;
};
constexpr FloorDivision floor_divide(int64_t v, int64_t d) {
  int64_t q = v / d;
  int64_t r = v % d;
  if (r < 0) {
    q -= 1;
    r += d;
  }
  return {q, r};
}

constexpr Datetime64Conversion failed(Datetime64Failure why) { return {why, {}}; }

Datetime64Conversion from_date(int64_t year, unsigned month, Options options) {
  if (year < 0 || year > 9999) return failed(Datetime64Failure::Unrepresentable);
  return {Datetime64Failure::None,
          {static_cast<int32_t>(year), static_cast<uint8_t>(month), 1, 0, 0, 0, 0, options}};
}

Datetime64Conversion from_instant(int64_t seconds, uint32_t nanosecond, Options options) {
  if (seconds < MinSeconds || seconds > MaxSeconds || (seconds == MaxSeconds && nanosecond != 0))
    return failed(Datetime64Failure::Unrepresentable);
  const FloorDivision days = floor_divide(seconds, SecondsPerDay);
  const Date date = civil_from_days(days.quotient);
  const auto time = static_cast<uint32_t>(days.remainder);
  return {Datetime64Failure::None,
          {static_cast<int32_t>(date.year), static_cast<uint8_t>(date.month), static_cast<uint8_t>(date.day),
           static_cast<uint8_t>(time / 3600), static_cast<uint8_t>(time / 60 % 60), static_cast<uint8_t>(time % 60),
           nanosecond, options}};
}

Datetime64Conversion from_multiple(int64_t count, int64_t seconds_per_unit, Options options) {
  int64_t seconds;
  if (__builtin_mul_overflow(count, seconds_per_unit, &seconds)) return failed(Datetime64Failure::Unrepresentable);
  return from_instant(seconds, 0, options);
}

Datetime64Conversion from_fraction(int64_t count, int64_t units_per_second, Options options) {
  const FloorDivision split = floor_divide(count, units_per_second);
  const auto nanosecond = static_cast<uint32_t>(split.remainder * (1000000000 / units_per_second));
  return from_instant(split.quotient, nanosecond, options);
}

}  // namespace

DatetimeUnit datetime_unit_of(std::string_view typestr) {
  if (typestr.size() < 5) return typestr.size() == 3 && typestr.substr(1) == "M8" ? DatetimeUnit::Generic
                                                                                   : DatetimeUnit::NaT;
  const std::string_view text = datetime_unit_text(typestr);
  for (const UnitEntry& e : Units)
    if (e.unit != DatetimeUnit::NaT && e.text == text) return e.unit;
  return DatetimeUnit::Unlisted;
}

std::string_view datetime_unit_text(std::string_view typestr) {
  if (typestr.size() < 5) return {};
  return typestr.substr(4, typestr.size() - 5);
}

std::string_view datetime_unit_name(DatetimeUnit unit) {
  const auto code = static_cast<size_t>(unit);
  return code < std::size(Units) ? Units[code].name : std::string_view{};
}

Datetime64Conversion datetime64_to_civil(DatetimeUnit unit, int64_t count, Options options) {
  // Only years to nanoseconds convert: not NaT, generic, an unlisted unit
  // or the units finer than nanoseconds.
  if (unit < DatetimeUnit::Years || unit > DatetimeUnit::Nanoseconds)
    return failed(Datetime64Failure::UnsupportedUnit);
  // The minimum count is numpy's NaT, "not a time": never a date, even in
  // nanoseconds, where the arithmetic alone would give one.
  if (count == std::numeric_limits<int64_t>::min()) return failed(Datetime64Failure::Unrepresentable);
  switch (unit) {
    case DatetimeUnit::Years:
      // Compared before adding, so that no count wraps into the range.
      if (count < -1970 || count > 9999 - 1970) return failed(Datetime64Failure::Unrepresentable);
      return from_date(1970 + count, 1, options);
    case DatetimeUnit::Months: {
      const FloorDivision years = floor_divide(count, 12);
      return from_date(1970 + years.quotient, static_cast<unsigned>(years.remainder) + 1, options);
    }
    case DatetimeUnit::Weeks:
      return from_multiple(count, 7 * SecondsPerDay, options);
    case DatetimeUnit::Days:
      return from_multiple(count, SecondsPerDay, options);
    case DatetimeUnit::Hours:
      return from_multiple(count, 3600, options);
    case DatetimeUnit::Minutes:
      return from_multiple(count, 60, options);
    case DatetimeUnit::Seconds:
      return from_instant(count, 0, options);
    case DatetimeUnit::Milliseconds:
      return from_fraction(count, 1000, options);
    case DatetimeUnit::Microseconds:
      return from_fraction(count, 1000000, options);
    case DatetimeUnit::Nanoseconds:
      return from_fraction(count, 1000000000, options);
    default:
      break;
  }
  return failed(Datetime64Failure::UnsupportedUnit);
}

}  // namespace vellum::ffi::numpy
