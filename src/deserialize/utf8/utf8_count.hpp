// Character counts of valid UTF-8: the number of bytes that are not
// continuation bytes (0x80..0xBF).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellum {

// Uses 32-byte AVX2 vectors when the processor has them.
size_t count_utf8_chars(const uint8_t* p, size_t n);

// The portable twin: 16-byte SSE2 vectors only.
size_t count_utf8_chars_sse2(const uint8_t* p, size_t n);

namespace avx2 {
size_t count_utf8_chars(const uint8_t* p, size_t n);
}
// The same code over portable intrinsics (test build only).
namespace avx2_simde {
size_t count_utf8_chars(const uint8_t* p, size_t n);
}

}  // namespace vellum
