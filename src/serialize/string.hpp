// Writing a str's UTF-8 text as a JSON string token.
#pragma once

#include <cstddef>
#include <cstdint>

#include "src/python.hpp"
#include "src/serialize/error.hpp"
#include "src/serialize/escape/escape.hpp"
#include "src/serialize/output_buffer.hpp"
#include "src/str/utf8_view.hpp"

namespace vellum {

// Longer texts are escaped a piece at a time, so that the room reserved for
// the worst case (six bytes out for every byte in) stays small next to what
// is written.
inline constexpr size_t EscapePiece = 64 * 1024;

[[gnu::noinline]] bool write_long_string(OutputBuffer& out, Utf8View text);

[[nodiscard]] inline bool write_string(OutputBuffer& out, Utf8View text) {
  if (text.size > EscapePiece) [[unlikely]]
    return write_long_string(out, text);
  if (!out.reserve(escape_reservation(text.size))) return false;
  out.advance(escape_routines.escape_string(out.cursor(), text.data, text.size));
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
