// String escaping: writes `"`, the JSON-escaped bytes, `"`.
//
// Every form writes at dst and returns the number of bytes written. It may
// store up to 32 bytes beyond that count, so the caller reserves
// escape_reservation(n) bytes first; the source is never read outside
// [src, src + n).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/simd/forms.hpp"

namespace vellum {

using EscapeFn = size_t (*)(uint8_t* dst, const uint8_t* src, size_t n);

// Six output bytes per input byte at worst, the two quotes and the overhang.
constexpr size_t escape_reservation(size_t n) { return 8 * n + 32; }

struct EscapeRoutines {
  EscapeFn escape_string;
};

// Every form, widest first: escape_avx512.cpp (32-byte blocks with masked
// loads), escape.cpp (16-byte SSE2 blocks, any x86-64 processor).
extern const std::span<const simd::Form<EscapeRoutines>> escape_forms;

// Chosen once, when the library is loaded: simd::pick(escape_forms,
// cpu::selected_features()).
extern const EscapeRoutines escape_routines;

}  // namespace vellum
