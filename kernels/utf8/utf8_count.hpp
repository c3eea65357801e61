// Character counts of valid UTF-8: the number of bytes that are not
// continuation bytes (0x80..0xBF).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellum {

// 16-byte SSE2 vectors: runs on any x86-64 processor.
namespace portable {
size_t count_utf8_chars(const uint8_t* p, size_t n);
}
// 32-byte vectors; needs AVX2.
namespace avx2 {
size_t count_utf8_chars(const uint8_t* p, size_t n);
}
// The same code over portable intrinsics (test build only).
namespace avx2_simde {
size_t count_utf8_chars(const uint8_t* p, size_t n);
}

}  // namespace vellum
