// Rows of floats as text: each value's shortest round-trip text, as
// format_f64 and format_f32 write it, followed by a separator. Every form
// gives the same bytes; the scalar formatter is the reference for all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "base/simd/forms.hpp"

namespace vellum {

// The bytes written after each value: "," in compact output, ",\n" and the
// indentation otherwise.
struct Separator {
  const uint8_t* bytes;
  size_t size;
};

inline uint8_t* put_separator(uint8_t* p, Separator separator) {
  if (separator.size == 1) {
    *p = *separator.bytes;
    return p + 1;
  }
  std::memcpy(p, separator.bytes, separator.size);
  return p + separator.size;
}

// Writes the n values at src (native byte order, any alignment), each
// followed by the separator, and returns the end. Needs MaxF64Text
// (MaxF32Text) plus the separator's size per value, and FloatOverhang bytes
// past the end, which it may overwrite.
using FloatRowFn = uint8_t* (*)(uint8_t* dst, const uint8_t* src, size_t n, Separator separator);

struct FloatRowRoutines {
  FloatRowFn f64_row;
  FloatRowFn f32_row;
};

// Every form, widest first: float_row_avx512.cpp (eight doubles or sixteen
// singles at a time), float_row.cpp (one value at a time, any processor).
extern const std::span<const simd::Form<FloatRowRoutines>> float_row_forms;

// Chosen once, when the library is loaded.
extern const FloatRowRoutines float_row_routines;

}  // namespace vellum
