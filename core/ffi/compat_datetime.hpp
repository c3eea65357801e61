// The datetime C API, included from here only. Its capsule (the types and
// the UTC singleton) and the records its macros read (the packed date and
// time bytes, the tzinfo flag and pointer) are the same on 3.11 to 3.15;
// the assertions stop a build for an interpreter where they moved.
#pragma once

#include <cstddef>

#include "core/ffi/compat_api.hpp"

#include <datetime.h>

namespace vellum::ffi::compat {

static_assert(offsetof(PyDateTime_Date, data) == sizeof(PyObject) + sizeof(Py_hash_t) + 1, "date bytes");
static_assert(offsetof(PyDateTime_DateTime, data) == sizeof(PyObject) + sizeof(Py_hash_t) + 1, "datetime bytes");
static_assert(offsetof(PyDateTime_Time, data) == sizeof(PyObject) + sizeof(Py_hash_t) + 1, "time bytes");
static_assert(offsetof(PyDateTime_DateTime, tzinfo) == 40, "datetime tzinfo after the 10 bytes and the fold");
static_assert(offsetof(PyDateTime_Delta, days) == sizeof(PyObject) + sizeof(Py_hash_t), "timedelta fields");

// Whether a time or datetime holds a tzinfo (the record's flag; the C API
// names it as private).
inline bool has_tzinfo(PyObject* time_or_datetime) { return _PyDateTime_HAS_TZINFO(time_or_datetime); }

}  // namespace vellum::ffi::compat
