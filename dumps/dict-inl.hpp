// Dicts and dict subclasses as JSON objects, read entry by entry as
// PyDict_Next reads them (never through a subclass's methods). Part of the
// recursion: included only by serializer-inl.hpp.
#pragma once

#include <algorithm>
#include <cstring>

#include "core/ffi/compat_dict.hpp"
#include "core/pyref.hpp"
#include "dumps/key_text.hpp"
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
  if (state::options(s) & OPT_NON_STR_KEYS) return write_dict_converted(dict, members, layout);
  if (state::options(s) & OPT_SORT_KEYS) return write_dict_sorted(dict, members, layout);
  return write_dict_plain(dict, members, layout);
}

}  // namespace vellum
