// String escaping: writes `"`, the JSON-escaped bytes, `"`.
//
// Every routine writes at dst and returns the number of bytes written. It may
// store up to 32 bytes beyond that count, so the caller reserves
// escape_reservation(n) bytes first; the source is never read outside
// [src, src + n).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellum {

using EscapeRoutine = size_t (*)(uint8_t* dst, const uint8_t* src, size_t n);

// Six output bytes per input byte at worst, the two quotes and the overhang.
constexpr size_t escape_reservation(size_t n) { return 8 * n + 32; }

// 16-byte blocks; the portable form, SSE2 being part of x86-64.
size_t escape_sse2(uint8_t* dst, const uint8_t* src, size_t n);

// 32-byte blocks with masked loads; needs AVX-512VL and AVX-512BW.
namespace avx512 {
size_t escape_string(uint8_t* dst, const uint8_t* src, size_t n);
}
// The same code over portable intrinsics (test build only).
namespace avx512_simde {
size_t escape_string(uint8_t* dst, const uint8_t* src, size_t n);
}

// The fastest routine this processor can run.
EscapeRoutine select_escape_routine();

}  // namespace vellum
