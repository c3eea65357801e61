#include "dumps/per_type/datetime.hpp"

#include <cstring>
#include <utility>

#include "core/ffi/class_attribute.hpp"
#include "core/ffi/compat_datetime.hpp"
#include "core/pyref.hpp"
#include "dumps/state.hpp"
#include "kernels/number/digits.hpp"

namespace vellum {
namespace {

using number::copy_two_digits;

constexpr int32_t SecondsPerDay = 86400;

// A UTC offset as it is written: none (naive), zero, or a sign with hours
// and minutes.
struct Offset {
  enum class Kind : uint8_t { None, Zero, Signed } kind = Kind::None;
  uint8_t sign = '+';
  uint32_t hours = 0;
  uint32_t minutes = 0;
};

[[gnu::always_inline]] inline uint8_t* put_date(uint8_t* p, PyObject* date) {
  const uint32_t year = static_cast<uint32_t>(PyDateTime_GET_YEAR(date));
  copy_two_digits(p, year / 100);
  copy_two_digits(p + 2, year % 100);
  p[4] = '-';
  copy_two_digits(p + 5, PyDateTime_GET_MONTH(date));
  p[7] = '-';
  copy_two_digits(p + 8, PyDateTime_GET_DAY(date));
  return p + 10;
}

[[gnu::always_inline]] inline uint8_t* put_clock(uint8_t* p, uint32_t hour, uint32_t minute, uint32_t second, uint32_t microsecond,
                   Options options) {
  copy_two_digits(p, hour);
  p[2] = ':';
  copy_two_digits(p + 3, minute);
  p[5] = ':';
  copy_two_digits(p + 6, second);
  p += 8;
  if (microsecond != 0 && !(options & OPT_OMIT_MICROSECONDS)) {
    p[0] = '.';
    copy_two_digits(p + 1, microsecond / 10000);
    copy_two_digits(p + 3, microsecond / 100 % 100);
    copy_two_digits(p + 5, microsecond % 100);
    p += 7;
  }
  return p;
}

[[gnu::always_inline]] inline uint8_t* put_time(uint8_t* p, PyObject* time, Options options) {
  return put_clock(p, PyDateTime_TIME_GET_HOUR(time), PyDateTime_TIME_GET_MINUTE(time),
                   PyDateTime_TIME_GET_SECOND(time), PyDateTime_TIME_GET_MICROSECOND(time), options);
}

[[gnu::always_inline]] inline uint8_t* put_datetime(uint8_t* p, PyObject* dt, const Offset& offset, Options options) {
  p = put_date(p, dt);
  *p++ = 'T';
  p = put_clock(p, PyDateTime_DATE_GET_HOUR(dt), PyDateTime_DATE_GET_MINUTE(dt), PyDateTime_DATE_GET_SECOND(dt),
                PyDateTime_DATE_GET_MICROSECOND(dt), options);
  switch (offset.kind) {
    case Offset::Kind::None:
      break;
    case Offset::Kind::Zero:
      if (options & OPT_UTC_Z) {
        *p++ = 'Z';
      } else {
        std::memcpy(p, "+00:00", 6);
        p += 6;
      }
      break;
    case Offset::Kind::Signed:
      p[0] = offset.sign;
      copy_two_digits(p + 1, offset.hours);
      p[3] = ':';
      copy_two_digits(p + 4, offset.minutes);
      p += 6;
      break;
  }
  return p;
}

// What utcoffset() gave: None (the datetime is then naive, as isoformat()
// has it), or a timedelta strictly within a day. Anything else fails; the
// text is never built from it.
EncodeStatus read_offset(PyObject* delta, const TypeRegistry& types, Offset& offset) {
  if (delta == Py_None) {
    offset.kind = Offset::Kind::None;
    return EncodeStatus::ok();
  }
  if (!PyObject_TypeCheck(delta, as_type(types.timedelta))) return offset_not_delta(delta);
  const int32_t days = PyDateTime_DELTA_GET_DAYS(delta);
  const int32_t seconds = PyDateTime_DELTA_GET_SECONDS(delta);
  const int32_t microseconds = PyDateTime_DELTA_GET_MICROSECONDS(delta);
  // Within (-24 h, +24 h): days is 0, or -1 with something left over.
  if (days != 0 && !(days == -1 && (seconds != 0 || microseconds != 0)))
    return offset_out_of_range(days, seconds, microseconds);
  // Microseconds are not written; seconds round to the nearest minute.
  if (days == 0 && seconds == 0) {
    offset.kind = Offset::Kind::Zero;
    return EncodeStatus::ok();
  }
  const uint32_t magnitude = static_cast<uint32_t>(days == -1 ? SecondsPerDay - seconds : seconds);
  const uint32_t minutes = (magnitude + 30) / 60;
  // +24:00 is no offset RFC 3339 knows.
  if (minutes == 24 * 60) return offset_out_of_range(days, seconds, microseconds);
  offset.kind = Offset::Kind::Signed;
  // -00:00 would say that the local offset is unknown.
  offset.sign = days == -1 && minutes != 0 ? '-' : '+';
  offset.hours = minutes / 60;
  offset.minutes = minutes % 60;
  return EncodeStatus::ok();
}

// Whether obj has the attribute: 1, 0 when it is missing (only an
// AttributeError says so), or -1 with the lookup's exception pending. Where
// the answer depends on the type alone (the generic lookup, no instance
// dict, an attribute whose binding cannot fail) the type's cached lookup
// gives it without binding a method, and `by_type` stays true.
int has_attribute(PyObject* obj, PyObject* name, bool& by_type) {
  PyTypeObject* type = Py_TYPE(obj);
  if (type->tp_getattro == PyObject_GenericGetAttr && type->tp_dictoffset == 0 &&
      !(type->tp_flags & Py_TPFLAGS_MANAGED_DICT)) {
    PyObject* attribute = ffi::class_attribute(type, name);
    if (attribute == nullptr) return 0;
    PyTypeObject* kind = Py_TYPE(attribute);
    if (kind->tp_descr_get == nullptr || kind == &PyMethodDescr_Type || kind == &PyFunction_Type) return 1;
  }
  by_type = false;
  PyObject* found = nullptr;
  const int has = PyObject_GetOptionalAttr(obj, name, &found);
  Py_XDECREF(found);
  return has;
}

// Remembered for classes whose type alone decides it; a change to the class
// or a base sends it through the probes again.
TzRoute route_of(PyObject* tz, DumpsState& state) {
  PyTypeObject* type = Py_TYPE(tz);
  if (const TzRoute* known = state.tz_routes.find(type)) [[likely]]
    return *known;
  const TypeRegistry& types = state.types;
  // The probes' lookups may free the class (see class_attribute).
  const PyRef hold = PyRef::borrow(as_object(type));
  const unsigned int version = state.tz_routes.tag(type, state.probe());
  bool by_type = true;
  const std::pair<PyObject*, TzRoute> probes[] = {
      {types.name<"convert">(), TzRoute::Convert},
      {types.name<"normalize">(), TzRoute::Normalize},
      {types.name<"dst">(), TzRoute::Dst},
  };
  TzRoute route = TzRoute::Unsupported;
  for (const auto& [name, found] : probes) {
    const int has = has_attribute(tz, name, by_type);
    if (has < 0) return TzRoute::Failed;
    if (has == 1) {
      route = found;
      break;
    }
  }
  if (by_type) state.tz_routes.remember(type, version, route);
  return route;
}

PyRef call_method(PyObject* name, PyObject* self) {
  PyObject* args[2] = {nullptr, self};
  return PyRef::steal(PyObject_VectorcallMethod(name, args + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

PyRef call_method(PyObject* name, PyObject* self, PyObject* arg) {
  PyObject* args[3] = {nullptr, self, arg};
  return PyRef::steal(PyObject_VectorcallMethod(name, args + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

// The offset of an aware datetime, asked of its tzinfo in the order that
// tells the time-zone libraries apart. A call that raises fails with its
// exception pending (the cause). The caller holds dt, and dt its tzinfo.
EncodeStatus aware_offset(PyObject* dt, DumpsState& state, Offset& offset) {
  const TypeRegistry& types = state.types;
  PyObject* tz = PyDateTime_DATE_GET_TZINFO(dt);
  PyRef delta;
  // An instance of the base class itself is asked as a "dst" zone is.
  switch (Py_TYPE(tz) == as_type(types.tzinfo) ? TzRoute::Dst : route_of(tz, state)) {
    case TzRoute::Convert:
      delta = call_method(types.name<"utcoffset">(), dt);
      break;
    case TzRoute::Normalize: {
      const PyRef normalized = call_method(types.name<"normalize">(), tz, dt);
      if (!normalized) return encode_failure(EncodeErrorKind::TzUnreadable);
      delta = call_method(types.name<"utcoffset">(), normalized.get());
      break;
    }
    case TzRoute::Dst:
      delta = call_method(types.name<"utcoffset">(), tz, dt);
      break;
    case TzRoute::Unsupported:
    case TzRoute::Failed:  // the probe's exception is the cause
      return encode_failure(EncodeErrorKind::TzUnreadable);
  }
  if (!delta) return encode_failure(EncodeErrorKind::TzUnreadable);
  return read_offset(delta.get(), types, offset);
}

Offset naive_offset(Options options) {
  Offset offset;
  if (options & OPT_NAIVE_UTC) offset.kind = Offset::Kind::Zero;
  return offset;
}

}  // namespace

EncodeStatus format_date(PyObject* date, DumpsState&, Options, ScalarText& text) {
  text.end = put_date(text.data, date);
  return EncodeStatus::ok();
}

EncodeStatus format_time(PyObject* time, DumpsState&, Options options, ScalarText& text) {
  if (ffi::compat::has_tzinfo(time)) return encode_failure(EncodeErrorKind::TimeWithTzinfo);
  text.end = put_time(text.data, time, options);
  return EncodeStatus::ok();
}

// The offset to write for dt: the naive one, or its tzinfo's. The tzinfo's
// methods run Python code that may drop the last other reference to dt,
// whose fields are read afterwards, so `hold` keeps it for the caller.
[[gnu::always_inline]] inline EncodeStatus datetime_offset(PyObject* dt, DumpsState& state, Options options,
                                                           Offset& offset, PyRef& hold) {
  offset = naive_offset(options);
  if (!ffi::compat::has_tzinfo(dt)) [[likely]]
    return EncodeStatus::ok();
  // datetime.timezone.utc answers a zero offset without being asked.
  if (PyDateTime_DATE_GET_TZINFO(dt) == state.types.utc) {
    offset.kind = Offset::Kind::Zero;
    return EncodeStatus::ok();
  }
  hold = PyRef::borrow(dt);
  VELLUM_TRY(aware_offset(dt, state, offset));
  if (offset.kind == Offset::Kind::None) offset = naive_offset(options);
  return EncodeStatus::ok();
}

// Every failure (and all Python code) comes before the text is formatted.
EncodeStatus format_datetime(PyObject* dt, DumpsState& state, Options options, ScalarText& text) {
  Offset offset;
  PyRef hold;
  VELLUM_TRY(datetime_offset(dt, state, options, offset, hold));
  text.end = put_datetime(text.data, dt, offset, options);
  return EncodeStatus::ok();
}

uint8_t* put_naive_datetime(uint8_t* p, PyObject* dt, Options options) {
  return put_datetime(p, dt, naive_offset(options), options);
}

EncodeStatus write_date(OutputBuffer& out, PyObject* date, DumpsState& state, Options options) {
  return write_formatted<&format_date, TextStyle::Quoted>(out, date, state, options);
}

EncodeStatus write_time(OutputBuffer& out, PyObject* time, DumpsState& state, Options options) {
  return write_formatted<&format_time, TextStyle::Quoted>(out, time, state, options);
}

// As format_datetime, with the offset asked (and any Python code run)
// before the output is touched.
EncodeStatus write_datetime(OutputBuffer& out, PyObject* dt, DumpsState& state, Options options) {
  Offset offset;
  PyRef hold;
  VELLUM_TRY(datetime_offset(dt, state, options, offset, hold));
  return write_text(out, TextStyle::Quoted, [&](ScalarText& text) __attribute__((always_inline)) {
    text.end = put_datetime(text.data, dt, offset, options);
    return EncodeStatus::ok();
  });
}
}  // namespace vellum
