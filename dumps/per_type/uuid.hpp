// uuid.UUID as its canonical 36-character text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/python.hpp"
#include "dumps/error.hpp"
#include "dumps/output_buffer.hpp"

namespace vellum {

inline constexpr size_t UuidTextSize = 36;

struct UuidText {
  uint8_t data[UuidTextSize];
  size_t size = 0;
};

// 8-4-4-4-12 lowercase hex digits from the UUID's "int", or a failure with
// the interpreter's error pending when that cannot be read as 128 bits.
EncodeStatus format_uuid(PyObject* uuid, UuidText& text);

// The quoted text on the output.
EncodeStatus write_uuid(OutputBuffer& out, PyObject* uuid);

}  // namespace vellum
