// A str's UTF-8 text, borrowed from the str: what dumps writes and what
// loads reads from a str input.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/ffi/str_utf8.hpp"
#include "core/python.hpp"

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

// The UTF-8 text an exact str holds already: its ASCII text, or the copy
// the interpreter's encoder left in it. False when it holds none.
[[gnu::always_inline]] inline bool held_utf8(PyObject* str, Utf8View& view) {
  if (PyUnicode_IS_COMPACT_ASCII(str)) [[likely]] {
    view = {static_cast<const uint8_t*>(PyUnicode_DATA(str)), static_cast<size_t>(PyUnicode_GET_LENGTH(str))};
    return true;
  }
  return ffi::cached_utf8(str, view.data, view.size);
}

// The UTF-8 text of an exact str, without copying when the interpreter
// already holds it; else through the encoder, which leaves its copy in the
// str. False (with the encoder's exception pending) for a str holding a
// lone surrogate.
[[gnu::always_inline]] inline bool string_utf8(PyObject* str, Utf8View& view) {
  return held_utf8(str, view) || subclass_utf8(str, view);
}

}  // namespace vellum
