// datetime.datetime, datetime.date and datetime.time as RFC 3339 text, read
// straight from the interpreter's packed fields. Values are written quoted;
// dict keys take the bare text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/options.hpp"
#include "core/python.hpp"
#include "dumps/error.hpp"
#include "dumps/output_buffer.hpp"

namespace vellum {

// The longest text: 2024-01-02T03:04:05.000007+05:30.
inline constexpr size_t MaxDateTimeText = 32;

struct DateTimeText {
  uint8_t data[MaxDateTimeText];
  size_t size = 0;
};

// The text without quotes, or a failure (with nothing formatted). Only the
// datetime form calls into Python code (its tzinfo), and it holds the
// datetime while it does.
EncodeStatus format_date(PyObject* date, DateTimeText& text);
EncodeStatus format_time(PyObject* time, Options options, DateTimeText& text);
EncodeStatus format_datetime(PyObject* datetime, Options options, DateTimeText& text);

// The quoted text on the output.
EncodeStatus write_date(OutputBuffer& out, PyObject* date);
EncodeStatus write_time(OutputBuffer& out, PyObject* time, Options options);
EncodeStatus write_datetime(OutputBuffer& out, PyObject* datetime, Options options);

}  // namespace vellum
