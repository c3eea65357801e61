// Well-formed UTF-8 check for byte input to loads: exactly the sequences of
// the Unicode Standard's table of well-formed byte sequences (no overlong
// forms, no surrogates, nothing above U+10FFFF, no sequence cut off at the
// end). NUL is valid. Nothing outside [p, p + n) is read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellum {

// Length of the longest valid prefix, byte by byte (the input is valid when
// it equals n): the plain twin of the block validators, and their way with
// texts shorter than a block.
size_t valid_utf8_prefix(const uint8_t* p, size_t n);

// The validator in 16-byte SSE2 blocks: runs on any x86-64 processor.
namespace portable {
bool validate_utf8(const uint8_t* p, size_t n);
}

}  // namespace vellum
