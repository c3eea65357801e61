#include "dumps/per_type/datetime64_calendar.hpp"

#include <iterator>

namespace vellum {
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

// The range's ends and the calendar, checked where they are fixed.
static_assert(datetime64::MinSeconds == -62167219200 && datetime64::MaxSeconds == 253402207200);
static_assert(datetime64::civil_from_days(-719528).year == 0 && datetime64::civil_from_days(-719528).month == 1);
static_assert(datetime64::civil_from_days(2932895).year == 9999 && datetime64::civil_from_days(2932895).day == 30);
static_assert(datetime64::civil_from_days(11016).month == 2 && datetime64::civil_from_days(11016).day == 29);
static_assert(datetime64::civil_from_days(-1).year == 1969 && datetime64::civil_from_days(-1).day == 31);

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

}  // namespace vellum
