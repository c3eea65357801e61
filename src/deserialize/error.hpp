// Every failure of loads, raised as one JSONDecodeError(msg, doc, pos).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellum {

struct LoadsFailure {
  const char* message;    // static UTF-8 text
  const uint8_t* document;  // the input text, or null when it is not known to be text
  size_t document_length;
  size_t position;        // byte offset into the document, on a character boundary
};

// Sets JSONDecodeError with `pos` counted in characters. If building the
// exception itself runs out of memory, MemoryError is left pending instead.
void raise_decode_error(const LoadsFailure& failure);

}  // namespace vellum
