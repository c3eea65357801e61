#include "dumps/string.hpp"

#include <algorithm>

namespace vellum {

// Each piece is escaped as a string of its own. The first keeps its opening
// quote; every later one is written from the byte before the cursor, so that
// its opening quote lands on the last byte written so far (kept aside and put
// back), and only the last keeps its closing quote.
bool write_long_string(OutputBuffer& out, Utf8View text) {
  const uint8_t* p = text.data;
  const uint8_t* const end = p + text.size;
  for (bool first = true; p < end; first = false) {
    const size_t n = std::min(EscapePiece, static_cast<size_t>(end - p));
    if (!out.reserve(escape_reservation(n))) return false;
    p += n;
    const size_t quotes_dropped = p == end ? 1 : 2;
    if (first) {
      out.advance(escape_routines.escape_string(out.cursor(), p - n, n) - 1);
      continue;
    }
    uint8_t* const at = out.cursor() - 1;
    const uint8_t kept = *at;
    const size_t written = escape_routines.escape_string(at, p - n, n);
    *at = kept;
    out.advance(written - quotes_dropped);
  }
  return true;
}

}  // namespace vellum
