// uuid.UUID as its canonical 36-character text.
#pragma once

#include "core/python.hpp"
#include "dumps/error.hpp"
#include "dumps/options.hpp"
#include "dumps/output_buffer.hpp"
#include "dumps/text.hpp"

namespace vellum {

// 8-4-4-4-12 lowercase hex digits from the UUID's "int", or a failure naming
// the UUID's type, with the interpreter's error as its cause, when that
// cannot be read as 128 bits.
EncodeStatus format_uuid(PyObject* uuid, DumpsState& state, Options options, ScalarText& text);

// The same as a value: the text, quoted, on the output.
EncodeStatus write_uuid(OutputBuffer& out, PyObject* uuid, DumpsState& state, Options options);

}  // namespace vellum
