// numpy's datetime64 as plain calendar arithmetic: the unit named in a
// dtype's type string, and a count of units since 1970-01-01T00:00:00
// (proleptic Gregorian, UTC, year 0 included) as a civil date and time
// within years 0 to 9999.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

namespace vellum {

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

namespace datetime64 {

inline constexpr int64_t SecondsPerDay = 86400;
// The accepted range, in days and seconds since the epoch: 0000-01-01 and
// 9999-12-30T22:00:00.
inline constexpr int64_t MinDays = -719528;
inline constexpr int64_t MinSeconds = MinDays * SecondsPerDay;
inline constexpr int64_t MaxSeconds = 2932895 * SecondsPerDay + 22 * 3600;

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

struct Date {
  int32_t year;
  uint32_t month, day;
};

// The proleptic Gregorian date `days` after 1970-01-01, for the days of
// years 0 to 9999, in 32-bit arithmetic without a division instruction:
// shifted by 82 eras of 400 years so that every value is positive, then
// centuries, years, and months and days by multiply-and-shift steps that
// are exact over the range (Neri and Schneider's calendar algorithm).
constexpr Date civil_from_days(int32_t days) {
  constexpr uint32_t Eras = 82;
  constexpr uint32_t Shift = 719468 + 146097 * Eras;  // day 0 is 0000-03-01 + 82 eras
  const uint32_t n = static_cast<uint32_t>(days) + Shift;
  const uint32_t n1 = 4 * n + 3;
  const uint32_t century = n1 / 146097;
  const uint32_t n2 = n1 % 146097 / 4 * 4 + 3;
  const uint64_t p2 = uint64_t{2939745} * n2;
  const auto year_of_century = static_cast<uint32_t>(p2 >> 32);
  const uint32_t day_of_year = static_cast<uint32_t>(p2) / 2939745 / 4;  // from March 1
  const uint32_t n3 = 2141 * day_of_year + 197913;
  const uint32_t month = n3 >> 16;  // 3 to 14
  const uint32_t day = (n3 & 0xffff) / 2141 + 1;
  const uint32_t january_or_february = day_of_year >= 306;
  return {static_cast<int32_t>(100 * century + year_of_century - 400 * Eras + january_or_february),
          january_or_february ? month - 12 : month, day};
}

constexpr Datetime64Conversion failed(Datetime64Failure why) { return {why, {}}; }

constexpr Datetime64Conversion from_date(int64_t year, uint32_t month) {
  if (year < 0 || year > 9999) return failed(Datetime64Failure::Unrepresentable);
  return {Datetime64Failure::None, {static_cast<int32_t>(year), static_cast<uint8_t>(month), 1, 0, 0, 0, 0}};
}

constexpr Datetime64Conversion from_instant(int64_t seconds, uint32_t nanosecond) {
  if (seconds < MinSeconds || seconds > MaxSeconds || (seconds == MaxSeconds && nanosecond != 0))
    return failed(Datetime64Failure::Unrepresentable);
  // Counted from the start of the range, every value is positive.
  const auto since_start = static_cast<uint64_t>(seconds - MinSeconds);
  const auto days = static_cast<int32_t>(since_start / SecondsPerDay + MinDays);
  const auto time = static_cast<uint32_t>(since_start % SecondsPerDay);
  const Date date = civil_from_days(days);
  return {Datetime64Failure::None,
          {date.year, static_cast<uint8_t>(date.month), static_cast<uint8_t>(date.day),
           static_cast<uint8_t>(time / 3600), static_cast<uint8_t>(time / 60 % 60), static_cast<uint8_t>(time % 60),
           nanosecond}};
}

constexpr Datetime64Conversion from_multiple(int64_t count, int64_t seconds_per_unit) {
  int64_t seconds;
  if (__builtin_mul_overflow(count, seconds_per_unit, &seconds)) return failed(Datetime64Failure::Unrepresentable);
  return from_instant(seconds, 0);
}

constexpr Datetime64Conversion from_fraction(int64_t count, int64_t units_per_second) {
  const FloorDivision split = floor_divide(count, units_per_second);
  const auto nanosecond = static_cast<uint32_t>(split.remainder * (1000000000 / units_per_second));
  return from_instant(split.quotient, nanosecond);
}

}  // namespace datetime64

// Accepted: 0000-01-01T00:00:00 to 9999-12-30T22:00:00 inclusive. No step
// wraps, whatever the count; the minimum count is numpy's NaT and never a
// date. Inline: arrays convert every element.
constexpr Datetime64Conversion datetime64_to_civil(DatetimeUnit unit, int64_t count) {
  using namespace datetime64;
  // Only years to nanoseconds convert: not NaT, generic, an unlisted unit
  // or the units finer than nanoseconds.
  if (unit < DatetimeUnit::Years || unit > DatetimeUnit::Nanoseconds)
    return failed(Datetime64Failure::UnsupportedUnit);
  // NaT, "not a time", even in nanoseconds, where the arithmetic alone
  // would give a date.
  if (count == std::numeric_limits<int64_t>::min()) return failed(Datetime64Failure::Unrepresentable);
  switch (unit) {
    case DatetimeUnit::Years:
      // Compared before adding, so that no count wraps into the range.
      if (count < -1970 || count > 9999 - 1970) return failed(Datetime64Failure::Unrepresentable);
      return from_date(1970 + count, 1);
    case DatetimeUnit::Months: {
      const FloorDivision years = floor_divide(count, 12);
      return from_date(1970 + years.quotient, static_cast<uint32_t>(years.remainder) + 1);
    }
    case DatetimeUnit::Weeks:
      return from_multiple(count, 7 * SecondsPerDay);
    case DatetimeUnit::Days:
      return from_multiple(count, SecondsPerDay);
    case DatetimeUnit::Hours:
      return from_multiple(count, 3600);
    case DatetimeUnit::Minutes:
      return from_multiple(count, 60);
    case DatetimeUnit::Seconds:
      return from_instant(count, 0);
    case DatetimeUnit::Milliseconds:
      return from_fraction(count, 1000);
    case DatetimeUnit::Microseconds:
      return from_fraction(count, 1000000);
    case DatetimeUnit::Nanoseconds:
      return from_fraction(count, 1000000000);
    default:
      return failed(Datetime64Failure::UnsupportedUnit);
  }
}

}  // namespace vellum
