// A str's UTF-8 text, and writing it as a JSON string token.
#pragma once

#include <cstddef>
#include <cstdint>

#include "src/python.hpp"
#include "src/serialize/error.hpp"
#include "src/serialize/escape/escape.hpp"
#include "src/serialize/output_buffer.hpp"
#include "src/typeref.hpp"

namespace vellum {

struct Utf8View {
  const uint8_t* data;
  size_t size;
};

// Through the interpreter's encoder (which caches the result): str
// subclasses always come here.
inline bool subclass_utf8(PyObject* str, Utf8View& view) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(str, &size);
  if (data == nullptr) return false;
  view = {reinterpret_cast<const uint8_t*>(data), static_cast<size_t>(size)};
  return true;
}

// The UTF-8 text of an exact str, without copying when the interpreter
// already holds it. False (with the encoder's exception pending) for a str
// holding a lone surrogate.
inline bool string_utf8(PyObject* str, Utf8View& view) {
  if (PyUnicode_IS_COMPACT_ASCII(str)) [[likely]] {
    view = {static_cast<const uint8_t*>(PyUnicode_DATA(str)), static_cast<size_t>(PyUnicode_GET_LENGTH(str))};
    return true;
  }
  auto* compact = reinterpret_cast<PyCompactUnicodeObject*>(str);
  if (compact->utf8_length > 0) {
    view = {reinterpret_cast<const uint8_t*>(compact->utf8), static_cast<size_t>(compact->utf8_length)};
    return true;
  }
  return subclass_utf8(str, view);
}

[[nodiscard]] inline bool write_string(OutputBuffer& out, Utf8View text) {
  if (!out.reserve(escape_reservation(text.size))) return false;
  out.advance(escape_routine(out.cursor(), text.data, text.size));
  return true;
}

inline EncodeStatus write_str(OutputBuffer& out, PyObject* str) {
  Utf8View text;
  if (!string_utf8(str, text)) [[unlikely]]
    return EncodeStatus::fail(EncodeErrorKind::StrNotUtf8);
  if (!write_string(out, text)) [[unlikely]]
    return EncodeStatus::fail(EncodeErrorKind::PythonError);
  return EncodeStatus::ok();
}

}  // namespace vellum
