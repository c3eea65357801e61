// Texts that need no escaping: the scalars' (numbers, literals, date-times,
// UUIDs) and converted dict keys. One way to put them on the output, one
// comparator for sorting texts, the literals.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dumps/options.hpp"
#include "core/python.hpp"
#include "core/str/utf8_view.hpp"
#include "dumps/error.hpp"
#include "dumps/output_buffer.hpp"

namespace vellum {

// How a text is written: as a JSON string (a date-time, a UUID, any dict
// key) or as it is (a number, true, false, null).
enum class TextStyle : uint8_t { Quoted, Plain };

// The room a scalar's text is formatted into: its own bytes, and those a
// formatter may store past its end (the float writers' overhang).
inline constexpr size_t MaxScalarText = 64;

// Where a formatter puts a scalar's text: MaxScalarText writable bytes at
// `data`, in the output (behind the opening quote) or in a dict's key
// texts. The formatter sets `end`, past the text's last byte.
struct ScalarText {
  uint8_t* data;
  uint8_t* end = nullptr;
};

// The literals as eight-byte words, copied whole and cut to their length.
inline constexpr char LiteralTrue[9] = "true\0\0\0\0";
inline constexpr char LiteralFalse[9] = "false\0\0\0";
inline constexpr char LiteralNull[9] = "null\0\0\0\0";
inline constexpr size_t LiteralTrueSize = 4, LiteralFalseSize = 5, LiteralNullSize = 4;

// Returns the end.
inline uint8_t* put_literal(uint8_t* p, const char (&word)[9], size_t size) {
  std::memcpy(p, word, 8);
  return p + size;
}

// The text formatted behind p (at p + 1 when quoted) gets its quotes;
// returns its whole length.
[[gnu::always_inline]] inline size_t close_text(uint8_t* p, TextStyle style, const ScalarText& text) {
  if (style == TextStyle::Plain) return static_cast<size_t>(text.end - p);
  p[0] = '"';
  text.end[0] = '"';
  return static_cast<size_t>(text.end + 1 - p);
}

// Writes one text at the cursor, in the given style: `fill(ScalarText&)`
// formats it into the room behind the opening quote (MaxScalarText bytes)
// and returns its EncodeStatus; on failure nothing is written.
template <class Fill>
[[gnu::always_inline]] inline EncodeStatus write_text(OutputBuffer& out, TextStyle style, Fill fill) {
  if (!out.reserve(MaxScalarText + 2)) [[unlikely]]
    return python_error();
  uint8_t* const p = out.cursor();
  ScalarText text{p + (style == TextStyle::Quoted)};
  VELLUM_TRY(fill(text));
  out.advance(close_text(p, style, text));
  return EncodeStatus::ok();
}

// The same at p, for a text that cannot fail (a run of numpy elements, whose
// room the caller reserved); returns the end.
template <class Fill>
[[gnu::always_inline]] inline uint8_t* put_text(uint8_t* p, TextStyle style, Fill fill) {
  ScalarText text{p + (style == TextStyle::Quoted)};
  fill(text);
  return p + close_text(p, style, text);
}

// The module's state of dumps (dumps/state.hpp), which the writers that need
// it (its types, names and memos) are given.
struct DumpsState;

// A scalar's text: formatted into `text` (at most MaxScalarText bytes), or
// a failure. A dict key's is formatted with FormattingKey in the options.
using Formatter = EncodeStatus (*)(PyObject* obj, DumpsState& state, Options options, ScalarText& text);

// The key texts of one dict (dumps/key_text.hpp).
class KeyTexts;

// A scalar key whose text has no bound: appended to the dict's key texts
// whole, or a failure. Formatted with FormattingKey in the options.
using KeyAppender = EncodeStatus (*)(PyObject* obj, DumpsState& state, Options options, KeyTexts& texts);

// A scalar value: its text on the output.
using ValueWriter = EncodeStatus (*)(OutputBuffer& out, PyObject* obj, DumpsState& state, Options options);

// The value writer of a formatter: the text formatted in place at the
// cursor, as a JSON string or as it is. Instantiated where the formatter is
// defined, so that it is inlined. (write_text's steps without a closure:
// the fast chain inlines one per scalar row into every container level.)
template <Formatter Format, TextStyle Style>
[[gnu::always_inline]] inline EncodeStatus write_formatted(OutputBuffer& out, PyObject* obj, DumpsState& state,
                                                           Options options) {
  if (!out.reserve(MaxScalarText + 2)) [[unlikely]]
    return python_error();
  uint8_t* const p = out.cursor();
  ScalarText text{p + (Style == TextStyle::Quoted)};
  VELLUM_TRY(Format(obj, state, options, text));
  out.advance(close_text(p, Style, text));
  return EncodeStatus::ok();
}

// A text that is already made (a converted key's): copied. At least
// TextTailRoom bytes are readable from its start, so that a short text is
// moved as one fixed-size copy; it is at most MaxScalarText bytes long.
inline constexpr size_t TextTailRoom = 32;

[[gnu::always_inline]] inline auto copy_of(Utf8View text) {
  return [text](ScalarText& room) __attribute__((always_inline)) {
    if (text.size <= TextTailRoom) {
      std::memcpy(room.data, text.data, TextTailRoom);
    } else {
      std::memcpy(room.data, text.data, text.size);
    }
    room.end = room.data + text.size;
    return EncodeStatus::ok();
  };
}

// The scalars that are literals (bool and None exactly: nothing derives
// from either).
[[gnu::always_inline]] inline EncodeStatus format_bool(PyObject* obj, DumpsState&, Options, ScalarText& text) {
  text.end = obj == Py_True ? put_literal(text.data, LiteralTrue, LiteralTrueSize)
                            : put_literal(text.data, LiteralFalse, LiteralFalseSize);
  return EncodeStatus::ok();
}

[[gnu::always_inline]] inline EncodeStatus format_none(PyObject*, DumpsState&, Options, ScalarText& text) {
  text.end = put_literal(text.data, LiteralNull, LiteralNullSize);
  return EncodeStatus::ok();
}

// Code-point order of two UTF-8 texts: their byte order, a prefix first.
inline bool code_point_less(Utf8View a, Utf8View b) {
  const size_t common = std::min(a.size, b.size);
  const int order = common != 0 ? std::memcmp(a.data, b.data, common) : 0;
  return order != 0 ? order < 0 : a.size < b.size;
}

}  // namespace vellum
