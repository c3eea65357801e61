// The UTF-8 text that a compact str which is not ASCII keeps once the
// interpreter's encoder has made it (the same fields on 3.11 to 3.15),
// read without a call.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/ffi/compat_api.hpp"

namespace vellum::ffi {

// True with the text in `data` and `size`; false while there is none yet.
[[gnu::always_inline]] inline bool cached_utf8(PyObject* str, const uint8_t*& data, size_t& size) {
  const auto* compact = reinterpret_cast<const PyCompactUnicodeObject*>(str);
  if (compact->utf8_length <= 0) return false;
  data = reinterpret_cast<const uint8_t*>(compact->utf8);
  size = static_cast<size_t>(compact->utf8_length);
  return true;
}

}  // namespace vellum::ffi
