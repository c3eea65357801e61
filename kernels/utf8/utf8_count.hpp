// Character counts of valid UTF-8: the number of bytes that are not
// continuation bytes (0x80..0xBF).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellum::portable {

// Bytes, words and 16-byte SSE2 blocks: runs on any x86-64 processor. The
// wider forms hand it what is shorter than their block.
size_t count_utf8_chars(const uint8_t* p, size_t n);

}  // namespace vellum::portable
