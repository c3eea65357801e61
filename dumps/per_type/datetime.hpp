// datetime.datetime, datetime.date and datetime.time as RFC 3339 text, read
// straight from the interpreter's packed fields.
#pragma once

#include <cstdint>

#include "core/python.hpp"
#include "dumps/error.hpp"
#include "dumps/options.hpp"
#include "dumps/output_buffer.hpp"
#include "dumps/text.hpp"

namespace vellum {

// How a tzinfo is asked for its offset, after the attributes that tell the
// time-zone libraries apart; Failed when a probe raised. Remembered per
// class (DumpsState::tz_routes).
enum class TzRoute : uint8_t { Convert, Normalize, Dst, Unsupported, Failed };

// The text without quotes (at most 32 bytes: 2024-01-02T03:04:05.000007+05:30),
// or a failure. Only the datetime form calls into Python code (its tzinfo),
// and it holds the datetime while it does.
EncodeStatus format_date(PyObject* date, DumpsState& state, Options options, ScalarText& text);
EncodeStatus format_time(PyObject* time, DumpsState& state, Options options, ScalarText& text);
EncodeStatus format_datetime(PyObject* datetime, DumpsState& state, Options options, ScalarText& text);

// A datetime without tzinfo (the caller checked): its text at p, offset as
// the options say; runs no Python code and cannot fail. Returns the end.
uint8_t* put_naive_datetime(uint8_t* p, PyObject* datetime, Options options);

// The same as values: the text, quoted, on the output.
EncodeStatus write_date(OutputBuffer& out, PyObject* date, DumpsState& state, Options options);
EncodeStatus write_time(OutputBuffer& out, PyObject* time, DumpsState& state, Options options);
EncodeStatus write_datetime(OutputBuffer& out, PyObject* datetime, DumpsState& state, Options options);

}  // namespace vellum
