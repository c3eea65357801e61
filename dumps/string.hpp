// Writing a str's UTF-8 text as a JSON string token.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/simd/portable.hpp"

#include "core/python.hpp"
#include "dumps/error.hpp"
#include "kernels/escape/escape.hpp"
#include "kernels/escape/escape_table.hpp"
#include "dumps/output_buffer.hpp"
#include "core/str/utf8_view.hpp"

namespace vellum {

// Longer texts are escaped a piece at a time, so that the room reserved for
// the worst case (six bytes out for every byte in) stays small next to what
// is written.
inline constexpr size_t EscapePiece = 64 * 1024;

[[gnu::noinline]] bool write_long_string(OutputBuffer& out, Utf8View text);

// Two words that overlap as much as they need to, copied after the opening
// quote when no byte of them needs escaping.
template <typename Word>
[[gnu::always_inline]] inline bool copy_clean_pair(uint8_t* dst, const uint8_t* src, size_t n) {
  Word head, tail;
  std::memcpy(&head, src, sizeof(Word));
  std::memcpy(&tail, src + n - sizeof(Word), sizeof(Word));
  const portable::Block16 both{_mm_set_epi64x(static_cast<int64_t>(tail), static_cast<int64_t>(head))};
  if (portable::string_specials(both).bits() != 0) return false;
  dst[0] = '"';
  std::memcpy(dst + 1, &head, sizeof(Word));
  std::memcpy(dst + 1 + n - sizeof(Word), &tail, sizeof(Word));
  return true;
}

// Writes a text of 1 to 16 bytes that needs no escaping, quoted, and
// returns true; false (having written nothing that counts) when it needs
// escapes. Most keys and many values are such texts: they are written here,
// inline, instead of through a call.
[[gnu::always_inline]] inline bool write_short_clean(uint8_t* dst, const uint8_t* src, size_t n) {
  if (n < 4) {
    // The first, middle and last bytes cover all of one to three.
    const uint8_t a = src[0], b = src[n / 2], c = src[n - 1];
    if ((NeedsEscapeTable[a] | NeedsEscapeTable[b] | NeedsEscapeTable[c]) != 0) return false;
    dst[0] = '"';
    dst[1] = a;
    dst[1 + n / 2] = b;
    dst[n] = c;
  } else if (n < 8) {
    if (!copy_clean_pair<uint32_t>(dst, src, n)) return false;
  } else {
    if (!copy_clean_pair<uint64_t>(dst, src, n)) return false;
  }
  dst[n + 1] = '"';
  return true;
}

[[nodiscard, gnu::always_inline]] inline bool write_string(OutputBuffer& out, Utf8View text) {
  const size_t n = text.size;
  if (n > EscapePiece) [[unlikely]]
    return write_long_string(out, text);
  if (!out.reserve(escape_reservation(n))) return false;
  if (n - 1 < 16 && write_short_clean(out.cursor(), text.data, n)) [[likely]] {
    out.advance(n + 2);
    return true;
  }
  out.advance(escape_routines.escape_string(out.cursor(), text.data, n));
  return true;
}

inline EncodeStatus write_str(OutputBuffer& out, PyObject* str) {
  Utf8View text;
  if (!string_utf8(str, text)) [[unlikely]]
    return encode_failure(EncodeErrorKind::StrNotUtf8);
  if (!write_string(out, text)) [[unlikely]]
    return python_error();
  return EncodeStatus::ok();
}

}  // namespace vellum
