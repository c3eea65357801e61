// The processor-specific UTF-8 kernels as one table, chosen once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels/utf8/utf8_count.hpp"
#include "kernels/utf8/utf8_shape.hpp"
#include "kernels/utf8/validate.hpp"

namespace vellum {

struct Utf8Routines {
  bool (*validate)(const uint8_t* p, size_t n);
  size_t (*count_chars)(const uint8_t* p, size_t n);
  Utf8Shape (*shape)(const uint8_t* p, size_t n);
};

// The fastest forms a processor with `features` runs.
Utf8Routines select_utf8_routines(uint64_t features);

// Chosen once, when the library is loaded, by cpu::selected_features().
extern const Utf8Routines utf8_routines;

}  // namespace vellum
