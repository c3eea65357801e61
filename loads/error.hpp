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

}  // namespace vellum
