// The processor-specific UTF-8 kernels as one table, chosen once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/simd/forms.hpp"
#include "kernels/utf8/utf8_count.hpp"
#include "kernels/utf8/utf8_decode.hpp"
#include "kernels/utf8/utf8_shape.hpp"
#include "kernels/utf8/validate.hpp"

namespace vellum {

struct Utf8Routines {
  bool (*validate)(const uint8_t* p, size_t n);
  size_t (*count_chars)(const uint8_t* p, size_t n);
  Utf8Shape (*shape)(const uint8_t* p, size_t n);
  Utf8DecodeFn decode;
};

// Every form, widest first: utf8_avx512.cpp (the shape in 64-byte vectors,
// the rest from the AVX2 form), utf8_avx2.cpp (the validator's nibble
// lookups and the count in 32-byte vectors, the portable decoder),
// utf8_routines.cpp (the portable routines of validate.cpp, utf8_count.cpp,
// utf8_shape.cpp and utf8_decode.cpp, in 16-byte SSE2 blocks).
extern const std::span<const simd::Form<Utf8Routines>> utf8_forms;

// Chosen once, when the library is loaded: simd::pick(utf8_forms,
// cpu::selected_features()).
extern const Utf8Routines utf8_routines;

}  // namespace vellum
