// Dicts and dict subclasses as JSON objects, read entry by entry as
// PyDict_Next reads them (never through a subclass's methods). Part of the
// recursion: included only by serializer-inl.hpp.
#pragma once

#include <algorithm>
#include <cstring>

#include "core/ffi/compat_datetime.hpp"
#include "core/ffi/compat_dict.hpp"
#include "core/ffi/long.hpp"
#include "core/pyref.hpp"
#include "dumps/classify.hpp"
#include "dumps/key_text.hpp"
#include "dumps/per_type/datetime.hpp"
#include "dumps/scratch.hpp"
#include "dumps/serializer.hpp"
#include "dumps/state.hpp"
#include "dumps/string.hpp"
#include "dumps/text.hpp"

namespace vellum {

// A key's UTF-8 text, or the failure for a key that has none.
[[gnu::always_inline]] inline EncodeStatus dict_key_utf8(PyObject* key, Utf8View& text) {
  if (Py_TYPE(key) != &PyUnicode_Type) [[unlikely]]
    return encode_failure(EncodeErrorKind::NonStrKey);
  if (!string_utf8(key, text)) [[unlikely]]
    return encode_failure(EncodeErrorKind::StrNotUtf8);
  return EncodeStatus::ok();
}

template <class Layout>
[[gnu::always_inline]] inline EncodeStatus write_member(Utf8View key, PyObject* value, bool first,
                                                         SerializeContext ctx, Layout& layout) {
  if (!layout.before_key(first) || !write_string(layout.out(), key) || !layout.before_value()) [[unlikely]]
    return python_error();
  VELLUM_TRY(serialize_item({value, ctx.default_, ctx.state}, layout));
  layout.after_value();
  return EncodeStatus::ok();
}

// Members in the dict's own order, streamed without allocation. Values may
// run Python code that changes the dict: each step stays within its
// current entries, the count read at the start bounds the walk, and the dict
// itself is held while it is written.
// `skip(key text)` leaves members out (a dataclass's private attributes).
template <class Layout, class Skip = decltype([](Utf8View) { return false; })>
EncodeStatus write_dict_plain(PyObject* dict, SerializeContext ctx, Layout& layout, Skip skip = {}) {
  if (!layout.open_object()) return python_error();
  Py_ssize_t pos = 0;
  PyObject* key;
  PyObject* value;
  bool first = true;
  for (Py_ssize_t remaining = PyDict_GET_SIZE(dict); remaining > 0 && ffi::compat::dict_next(dict, pos, key, value);
       --remaining) {
    Utf8View text;
    VELLUM_TRY(dict_key_utf8(key, text));
    if (skip(text)) continue;
    VELLUM_TRY(write_member(text, value, first, ctx, layout));
    first = false;
  }
  return layout.close_object() ? EncodeStatus::ok() : python_error();
}

// The entries of one dict, each holding the references it carries (its
// release() gives them back), so that a value's Python code cannot free what
// is still to be written.
template <class Entry>
class HeldEntries {
 public:
  explicit HeldEntries(ScratchBlocks& scratch) : scratch_(scratch) {}
  HeldEntries(const HeldEntries&) = delete;
  HeldEntries& operator=(const HeldEntries&) = delete;
  ~HeldEntries() {
    for (Entry& entry : *this) entry.release();
    if (entries_ != nullptr) scratch_give_back(scratch_, ScratchKind::Entries, {entries_, capacity_});
  }

  // False with MemoryError pending.
  [[nodiscard]] bool allocate(size_t capacity) {
    const ScratchBlock block = scratch_take(scratch_, ScratchKind::Entries, capacity * sizeof(Entry));
    entries_ = static_cast<Entry*>(block.data);
    capacity_ = block.capacity;
    return entries_ != nullptr;
  }
  // Takes over the references the entry carries.
  Entry& append(const Entry& entry) {
    entries_[size_] = entry;
    return entries_[size_++];
  }
  Entry* begin() { return entries_; }
  Entry* end() { return entries_ + size_; }

 private:
  ScratchBlocks& scratch_;
  Entry* entries_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;  // in bytes
};

struct SortedEntry {
  Utf8View key;
  PyObject* key_object;  // owned while the entry lives
  PyObject* value;       // owned while the entry lives

  void release() {
    Py_DECREF(key_object);
    Py_DECREF(value);
  }
};

// Every key is checked before anything of the dict is written.
template <class Layout>
EncodeStatus write_dict_sorted(PyObject* dict, SerializeContext ctx, Layout& layout) {
  const Py_ssize_t count = PyDict_GET_SIZE(dict);
  HeldEntries<SortedEntry> entries(layout.state().scratch);
  if (!entries.allocate(static_cast<size_t>(count))) return python_error();
  Py_ssize_t pos = 0;
  PyObject* key;
  PyObject* value;
  for (Py_ssize_t remaining = count; remaining > 0 && ffi::compat::dict_next(dict, pos, key, value); --remaining) {
    Utf8View text;
    VELLUM_TRY(dict_key_utf8(key, text));
    entries.append({text, Py_NewRef(key), Py_NewRef(value)});
  }
  std::sort(entries.begin(), entries.end(),
            [](const SortedEntry& a, const SortedEntry& b) { return code_point_less(a.key, b.key); });

  if (!layout.open_object()) return python_error();
  bool first = true;
  for (const SortedEntry& entry : entries) {
    VELLUM_TRY(write_member(entry.key, entry.value, first, ctx, layout));
    first = false;
  }
  return layout.close_object() ? EncodeStatus::ok() : python_error();
}

// A converted key (its text in the dict's KeyTexts) and its value.
struct ConvertedEntry {
  size_t offset;  // the key's text in the dict's KeyTexts
  size_t size;
  PyObject* value;  // owned while the entry lives
  KeyText kind;

  void release() { Py_DECREF(value); }
};

// Whether a key of the scalar row `row` has a text made without running
// Python code that cannot fail: an int of at most 60 bits, a float, a bool,
// None, a date, a time or a datetime that is naive or in
// datetime.timezone.utc. (A UUID's text reads its `int` attribute, which a
// patched class answers with Python code.)
[[gnu::always_inline]] inline bool is_quiet_scalar_key(size_t row, PyObject* key, const TypeRegistry& types) {
  switch (row) {
    case scalar_row("int"):
      return ffi::long_digit_count(ffi::as_long(key)) <= 2;
    case scalar_row("bool"):
    case scalar_row("NoneType"):
    case scalar_row("float"):
    case scalar_row("date"):
      return true;
    case scalar_row("datetime"):
      return !ffi::compat::has_tzinfo(key) || PyDateTime_DATE_GET_TZINFO(key) == types.utc;
    case scalar_row("time"):
      return !ffi::compat::has_tzinfo(key);
    default:
      return false;
  }
}

// The scalar row of a key's exact type (ScalarKindCount for none).
[[gnu::always_inline]] inline size_t key_scalar_row(PyObject* key, const TypeRegistry& types, Options options) {
  return scalar_row_of<false>(Py_TYPE(key), types, options, std::make_index_sequence<ScalarKindCount>{});
}

// Whether every key is an ASCII str or a quiet scalar: then no key's
// conversion runs Python code or fails. `options` are key_options().
inline bool all_keys_quiet(PyObject* dict, const TypeRegistry& types, Options options) {
  Py_ssize_t pos = 0;
  PyObject* key;
  PyObject* value;
  // Keys mostly share a type: its row is looked up once per run of it.
  PyTypeObject* row_type = nullptr;
  size_t row = ScalarKindCount;
  for (Py_ssize_t remaining = PyDict_GET_SIZE(dict); remaining > 0 && ffi::compat::dict_next(dict, pos, key, value);
       --remaining) {
    PyTypeObject* type = Py_TYPE(key);
    if (type == &PyUnicode_Type) {
      if (!PyUnicode_IS_COMPACT_ASCII(key)) return false;
      continue;
    }
    if (type != row_type) {
      row = key_scalar_row(key, types, options);
      row_type = type;
    }
    if (!is_quiet_scalar_key(row, key, types)) return false;
  }
  return true;
}

// One key other than an exact str, converted straight onto the output: a
// quiet scalar's text by its row's formatter, anything else through
// key_to_text, held while it is converted.
inline EncodeStatus write_converted_key(PyObject* key, DumpsState& state, Options options, OutputBuffer& out) {
  // The commonest key type inline, as in the two-pass path.
  if (Py_TYPE(key) == &PyLong_Type && ffi::long_digit_count(ffi::as_long(key)) <= 2) {
    return write_text(out, TextStyle::Quoted, [&](ScalarText& text) __attribute__((always_inline)) {
      return format_int(key, state, options, text);
    });
  }
  // Then naive datetimes, whose text needs none of the formatter's offset steps.
  constexpr uint8_t Datetime = scalar_row("datetime");
  if (is_row_type<Datetime>(Py_TYPE(key), state.types) && row_enabled<Datetime>(options) &&
      !ffi::compat::has_tzinfo(key)) {
    return write_text(out, TextStyle::Quoted, [&](ScalarText& text) __attribute__((always_inline)) {
      text.end = put_naive_datetime(text.data, key, options);
      return EncodeStatus::ok();
    });
  }
  const size_t row = key_scalar_row(key, state.types, options);
  if (is_quiet_scalar_key(row, key, state.types)) [[likely]] {
    const Formatter format = ScalarKinds[row].format;
    return write_text(out, TextStyle::Quoted, [&](ScalarText& text) { return format(key, state, options, text); });
  }
  const PyRef hold = PyRef::borrow(key);
  KeyTexts texts(state.scratch);
  KeyText kind;
  VELLUM_TRY(key_to_text(key, state, options, texts, kind));
  const Utf8View text{texts.data(), texts.size()};
  if (kind == KeyText::Escaped) return write_string(out, text) ? EncodeStatus::ok() : python_error();
  return write_text(out, TextStyle::Quoted, copy_of(text));
}

// OPT_NON_STR_KEYS, in the dict's order, when no key's conversion can run
// Python code or fail (all_keys_quiet): each member is written as it is
// read, as the plain path does. The two-pass path would have taken every
// member before a value's Python code could change the dict; here a change
// of its size or of its key table fails the call rather than write what is
// left of it. A key swapped in at the same size is converted as the
// two-pass path would.
template <class Layout>
EncodeStatus write_dict_quiet_keys(PyObject* dict, SerializeContext ctx, Layout& layout) {
  const Options options = key_options(state::options(ctx.state));
  DumpsState& state = layout.state();
  if (!layout.open_object()) return python_error();
  const Py_ssize_t count = PyDict_GET_SIZE(dict);
  const void* table = ffi::compat::dict_key_table(dict);
  Py_ssize_t pos = 0;
  PyObject* key;
  PyObject* value;
  bool first = true;
  for (Py_ssize_t remaining = count; remaining > 0; --remaining) {
    if (!ffi::compat::dict_next(dict, pos, key, value) || PyDict_GET_SIZE(dict) != count ||
        ffi::compat::dict_key_table(dict) != table) [[unlikely]]
      return encode_failure(EncodeErrorKind::DictChanged);
    if (Py_TYPE(key) == &PyUnicode_Type) {
      Utf8View text;
      VELLUM_TRY(dict_key_utf8(key, text));
      VELLUM_TRY(write_member(text, value, first, ctx, layout));
    } else {
      if (!layout.before_key(first)) [[unlikely]]
        return python_error();
      VELLUM_TRY(write_converted_key(key, state, options, layout.out()));
      if (!layout.before_value()) [[unlikely]]
        return python_error();
      VELLUM_TRY(serialize_item({value, ctx.default_, ctx.state}, layout));
      layout.after_value();
    }
    first = false;
  }
  return layout.close_object() ? EncodeStatus::ok() : python_error();
}

// OPT_NON_STR_KEYS: every key is turned into text before anything of the
// dict is written, then the members follow in the dict's order or sorted.
// Converting a key may run Python code (an enum's value, a tzinfo) that
// changes the dict, so the key is held while it is converted and the value
// from the moment it is read.
template <class Layout>
EncodeStatus write_dict_converted(PyObject* dict, SerializeContext ctx, Layout& layout) {
  const Py_ssize_t count = PyDict_GET_SIZE(dict);
  const Options options = key_options(state::options(ctx.state));
  DumpsState& state = layout.state();
  HeldEntries<ConvertedEntry> entries(state.scratch);
  if (!entries.allocate(static_cast<size_t>(count))) return python_error();
  KeyTexts texts(state.scratch);
  Py_ssize_t pos = 0;
  PyObject* key;
  PyObject* value;
  for (Py_ssize_t remaining = count; remaining > 0 && ffi::compat::dict_next(dict, pos, key, value); --remaining) {
    ConvertedEntry& entry = entries.append({texts.size(), 0, Py_NewRef(value), KeyText::Escaped});
    // The two commonest key types inline; the rest through classify.
    if (Py_TYPE(key) == &PyUnicode_Type) {
      Utf8View text;
      VELLUM_TRY(dict_key_utf8(key, text));
      if (!texts.append(text.data, text.size)) return python_error();
    } else if (Py_TYPE(key) == &PyLong_Type) {
      entry.kind = KeyText::Plain;
      VELLUM_TRY(texts.format(key, state, options, &format_int));
    } else {
      const PyRef hold = PyRef::borrow(key);
      VELLUM_TRY(key_to_text(key, state, options, texts, entry.kind));
    }
    entry.size = texts.size() - entry.offset;
  }
  const uint8_t* base = texts.data();
  if (state::options(ctx.state) & OPT_SORT_KEYS) {
    std::sort(entries.begin(), entries.end(), [base](const ConvertedEntry& a, const ConvertedEntry& b) {
      return code_point_less({base + a.offset, a.size}, {base + b.offset, b.size});
    });
  }

  if (!layout.open_object()) return python_error();
  bool first = true;
  for (const ConvertedEntry& entry : entries) {
    const Utf8View text{base + entry.offset, entry.size};
    if (entry.kind == KeyText::Plain) {
      if (!layout.before_key(first)) [[unlikely]]
        return python_error();
      VELLUM_TRY(write_text(layout.out(), TextStyle::Quoted, copy_of(text)));
      if (!layout.before_value()) [[unlikely]]
        return python_error();
      VELLUM_TRY(serialize_item({entry.value, ctx.default_, ctx.state}, layout));
      layout.after_value();
    } else {
      VELLUM_TRY(write_member(text, entry.value, first, ctx, layout));
    }
    first = false;
  }
  return layout.close_object() ? EncodeStatus::ok() : python_error();
}

// The dict step: one level deeper (an empty dict is still checked), then the
// members: keys converted under OPT_NON_STR_KEYS, sorted under OPT_SORT_KEYS.
template <class Layout>
[[gnu::noinline]] EncodeStatus serialize_dict(PyObject* dict, SerializeContext ctx, Layout& layout) {
  uint32_t s = ctx.state;
  if (!enter_container(s)) return encode_failure(EncodeErrorKind::TooDeep);
  if (PyDict_GET_SIZE(dict) == 0) return layout.empty_object() ? EncodeStatus::ok() : python_error();
  const PyRef hold = PyRef::borrow(dict);
  const SerializeContext members{dict, ctx.default_, s};
  if (state::options(s) & OPT_NON_STR_KEYS) {
    if (!(state::options(s) & OPT_SORT_KEYS) &&
        all_keys_quiet(dict, layout.state().types, key_options(state::options(s))))
      return write_dict_quiet_keys(dict, members, layout);
    return write_dict_converted(dict, members, layout);
  }
  if (state::options(s) & OPT_SORT_KEYS) return write_dict_sorted(dict, members, layout);
  return write_dict_plain(dict, members, layout);
}

}  // namespace vellum
