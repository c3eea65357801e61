// datetime.datetime, datetime.date and datetime.time as RFC 3339 text, read
// straight from the interpreter's packed fields.
#pragma once

#include "core/options.hpp"
#include "core/python.hpp"
#include "dumps/error.hpp"
#include "dumps/output_buffer.hpp"
#include "dumps/text.hpp"

namespace vellum {

// The text without quotes (at most 32 bytes: 2024-01-02T03:04:05.000007+05:30),
// or a failure. Only the datetime form calls into Python code (its tzinfo),
// and it holds the datetime while it does.
EncodeStatus format_date(PyObject* date, Options options, ScalarText& text);
EncodeStatus format_time(PyObject* time, Options options, ScalarText& text);
EncodeStatus format_datetime(PyObject* datetime, Options options, ScalarText& text);

// The same as values: the text, quoted, on the output.
EncodeStatus write_date(OutputBuffer& out, PyObject* date, Options options);
EncodeStatus write_time(OutputBuffer& out, PyObject* time, Options options);
EncodeStatus write_datetime(OutputBuffer& out, PyObject* datetime, Options options);

}  // namespace vellum
