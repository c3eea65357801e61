#include "dumps/key_text.hpp"

#include "core/pyref.hpp"
#include "core/str/utf8_view.hpp"
#include "dumps/classify.hpp"
#include "dumps/per_type/enum.hpp"
#include "dumps/serializer.hpp"

namespace vellum {

bool KeyTexts::grow(size_t needed) {
  if (data_ == nullptr) {
    const ScratchBlock block = scratch_take(scratch_, ScratchKind::KeyTexts, needed < 256 ? 256 : needed);
    data_ = static_cast<uint8_t*>(block.data);
    capacity_ = block.capacity;
    return data_ != nullptr;
  }
  size_t capacity = capacity_ * 2;
  if (capacity < needed) capacity = needed;
  auto* data = static_cast<uint8_t*>(PyMem_Realloc(data_, capacity));
  if (data == nullptr) {
    PyErr_NoMemory();
    return false;
  }
  data_ = data;
  capacity_ = capacity;
  return true;
}

namespace {

EncodeStatus convert(PyObject* key, DumpsState& state, Options options, KeyTexts& texts, KeyText& kind,
                     uint32_t enum_depth) {
  const Kind found = classify(Py_TYPE(key), state, options);
  kind = KeyText::Escaped;
  switch (found.kind) {
    case ObjectKind::Scalar: {
      const ScalarKind& row = ScalarKinds[found.row];
      // A text of any length goes through the escaper, which copies a
      // scalar's text unchanged.
      if (row.format == nullptr) return row.append_key(key, state, options, texts);
      kind = KeyText::Plain;
      return texts.format(key, state, options, row.format);
    }
    case ObjectKind::Str:
    case ObjectKind::StrSubclass: {
      Utf8View text;
      const bool exact = found.kind == ObjectKind::Str;
      if (!(exact ? string_utf8(key, text) : subclass_utf8(key, text)))
        return encode_failure(EncodeErrorKind::StrNotUtf8);
      return texts.append(text.data, text.size) ? EncodeStatus::ok() : python_error();
    }
    case ObjectKind::Enum: {
      // A chain of members whose values are members is bounded like nesting.
      if (enum_depth >= state::MaxDepth || !stack_has_room()) return encode_failure(EncodeErrorKind::TooDeep);
      const PyRef hold = PyRef::borrow(key);
      const PyRef value = enum_value(key, state);
      if (!value) return not_serializable(key);
      return convert(value.get(), state, options, texts, kind, enum_depth + 1);
    }
    case ObjectKind::Failed:
      return python_error();
    default:
      return encode_failure(EncodeErrorKind::KeyTypeUnsupported);
  }
}

}  // namespace

EncodeStatus key_to_text(PyObject* key, DumpsState& state, Options options, KeyTexts& texts, KeyText& kind) {
  return convert(key, state, options, texts, kind, 0);
}

}  // namespace vellum
