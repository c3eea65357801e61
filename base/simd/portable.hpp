// The portable blocks and byte tests, for code compiled without a target of
// its own (SSE2 is part of x86-64): one shared copy in vellum::portable.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

namespace vellum::portable {
#include "base/simd/block16.hpp"
#include "base/simd/string_specials.hpp"
}  // namespace vellum::portable
