// Every failure of loads, raised as one JSONDecodeError(msg, doc, pos).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellum {

struct LoadsState;

// Sets the state's JSONDecodeError with `message` (static UTF-8 text), the document (the
// input text, or null when it is not known to be text) and `pos` counted in
// characters from the byte offset `position` (on a character boundary). If
// building the exception runs out of memory, MemoryError is left pending
// instead.
void raise_decode_error(const LoadsState& state, const char* message, const uint8_t* document, size_t document_length,
                        size_t position);

// For byte input that is not valid UTF-8: `pos` is the first invalid byte's,
// and the document is the input with each invalid sequence replaced by
// U+FFFD (the text before that byte is the same in both).
void raise_invalid_utf8(const LoadsState& state, const char* message, const uint8_t* document,
                        size_t document_length);

}  // namespace vellum
