#include "dumps/key_text.hpp"

#include <cmath>

#include "core/ffi/long.hpp"
#include "core/pyref.hpp"
#include "kernels/number/format.hpp"
#include "dumps/per_type/datetime.hpp"
#include "dumps/per_type/enum.hpp"
#include "dumps/per_type/uuid.hpp"
#include "dumps/serializer.hpp"
#include "core/str/utf8_view.hpp"
#include "core/typeref.hpp"

namespace vellum {

bool KeyTexts::grow(size_t needed) {
  if (data_ == nullptr) {
    const ScratchBlock block = scratch_take(ScratchKind::KeyTexts, needed < 256 ? 256 : needed);
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

EncodeStatus appended(KeyTexts& texts, const void* text, size_t n) {
  return texts.append(text, n) ? EncodeStatus::ok() : EncodeStatus::fail(EncodeErrorKind::PythonError);
}

template <class Text>
EncodeStatus appended(KeyTexts& texts, const Text& text) {
  return texts.append_fixed(text.data, text.size) ? EncodeStatus::ok()
                                                  : EncodeStatus::fail(EncodeErrorKind::PythonError);
}

}  // namespace

// Any int or int subclass within -2^63 to 2^64 - 1, read from its own
// representation; no option narrows keys.
EncodeStatus int_key_text(PyObject* key, KeyTexts& texts) {
  const PyLongObject* v = ffi::as_long(key);
  const bool negative = ffi::long_sign(v) == ffi::LongSign::Negative;
  const size_t digits = ffi::long_digit_count(v);
  const digit* d = ffi::long_digits(v);
  uint64_t magnitude = digits == 0 ? 0 : d[0];
  if (digits > 3 || (digits == 3 && d[2] >= 16)) return EncodeStatus::fail(EncodeErrorKind::KeyIntOver64Bits);
  if (digits >= 2) magnitude |= uint64_t{d[1]} << PyLong_SHIFT;
  if (digits == 3) magnitude |= uint64_t{d[2]} << (2 * PyLong_SHIFT);
  if (negative && magnitude > (uint64_t{1} << 63)) return EncodeStatus::fail(EncodeErrorKind::KeyIntOver64Bits);
  if (!texts.reserve(MaxI64Text + 8)) return EncodeStatus::fail(EncodeErrorKind::PythonError);
  uint8_t* p = texts.cursor();
  *p = '-';
  p += negative;
  texts.advance(static_cast<size_t>(p - texts.cursor()) + format_u64(magnitude, p));
  return EncodeStatus::ok();
}

namespace {

EncodeStatus float_text(double value, KeyTexts& texts) {
  if (!std::isfinite(value)) return appended(texts, "null", 4);
  if (!texts.reserve(MaxF64Text + FloatOverhang)) return EncodeStatus::fail(EncodeErrorKind::PythonError);
  uint8_t* end = format_f64(texts.cursor(), value);
  texts.advance(static_cast<size_t>(end - texts.cursor()));
  return EncodeStatus::ok();
}

EncodeStatus convert(PyObject* key, Options options, KeyTexts& texts, KeyText& kind, uint32_t enum_depth) {
  const TypeRefs& refs = type_refs;
  PyTypeObject* type = Py_TYPE(key);
  kind = KeyText::Plain;
  if (type == &PyUnicode_Type) {
    kind = KeyText::Escaped;
    Utf8View text;
    if (!string_utf8(key, text)) return EncodeStatus::fail(EncodeErrorKind::StrNotUtf8);
    return appended(texts, text.data, text.size);
  }
  if (type == &PyLong_Type) return int_key_text(key, texts);
  if (type == &PyBool_Type) return key == Py_True ? appended(texts, "true", 4) : appended(texts, "false", 5);
  if (key == Py_None) return appended(texts, "null", 4);
  if (type == &PyFloat_Type) return float_text(PyFloat_AS_DOUBLE(key), texts);
  if (type == refs.type_datetime) {
    DateTimeText text;
    VELLUM_TRY(format_datetime(key, options, text));
    return appended(texts, text);
  }
  switch (classify_slow(type, options)) {
    case ObjectKind::KindDate: {
      DateTimeText text;
      VELLUM_TRY(format_date(key, text));
      return appended(texts, text);
    }
    case ObjectKind::KindTime: {
      DateTimeText text;
      VELLUM_TRY(format_time(key, options, text));
      return appended(texts, text);
    }
    case ObjectKind::KindUuid: {
      UuidText text;
      VELLUM_TRY(format_uuid(key, text));
      return appended(texts, text);
    }
    case ObjectKind::KindInt:
      return int_key_text(key, texts);
    case ObjectKind::KindStrSubclass: {
      kind = KeyText::Escaped;
      Utf8View text;
      if (!subclass_utf8(key, text)) return EncodeStatus::fail(EncodeErrorKind::StrNotUtf8);
      return appended(texts, text.data, text.size);
    }
    case ObjectKind::KindEnum: {
      // A chain of members whose values are members is bounded like nesting.
      if (enum_depth >= state::MaxDepth || !stack_has_room()) return EncodeStatus::fail(EncodeErrorKind::TooDeep);
      const PyRef hold = PyRef::borrow(key);
      const PyRef value = enum_value(key);
      if (!value) return EncodeStatus::not_serializable(key);
      return convert(value.get(), options, texts, kind, enum_depth + 1);
    }
    case ObjectKind::KindFailed:
      return EncodeStatus::fail(EncodeErrorKind::PythonError);
    default:
      return EncodeStatus::fail(EncodeErrorKind::KeyTypeUnsupported);
  }
}

}  // namespace

EncodeStatus key_to_text(PyObject* key, Options options, KeyTexts& texts, KeyText& kind) {
  return convert(key, options, texts, kind, 0);
}

}  // namespace vellum
