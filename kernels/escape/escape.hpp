// String escaping: writes `"`, the JSON-escaped bytes, `"`.
//
// Every form writes at dst and returns the number of bytes written. It may
// store up to 32 bytes beyond that count, so the caller reserves
// escape_reservation(n) bytes first; the source is never read outside
// [src, src + n).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellum {

using EscapeFn = size_t (*)(uint8_t* dst, const uint8_t* src, size_t n);

// Six output bytes per input byte at worst, the two quotes and the overhang.
constexpr size_t escape_reservation(size_t n) { return 8 * n + 32; }

// 16-byte SSE2 blocks: runs on any x86-64 processor.
namespace portable {
size_t escape_string(uint8_t* dst, const uint8_t* src, size_t n);
}
// 32-byte blocks with masked loads; needs AVX-512VL and AVX-512BW.
namespace avx512 {
size_t escape_string(uint8_t* dst, const uint8_t* src, size_t n);
}
// The same code over portable intrinsics (test build only).
namespace avx512_simde {
size_t escape_string(uint8_t* dst, const uint8_t* src, size_t n);
}

struct EscapeRoutines {
  EscapeFn escape_string;
};

// The fastest forms a processor with `features` runs.
EscapeRoutines select_escape_routines(uint64_t features);

// Chosen once, when the library is loaded, by cpu::selected_features().
extern const EscapeRoutines escape_routines;

}  // namespace vellum
