// Every way dumps can fail, carried up the recursion as a value.
#pragma once

#include <cstdint>

#include "core/pending_error.hpp"
#include "core/python.hpp"

namespace vellum {

enum class EncodeErrorKind : uint8_t {
  Ok = 0,
  TzUnreadable,
  DefaultTooDeep,
  IntOver53Bits,
  IntOver64Bits,
  StrNotUtf8,
  FragmentBadContent,
  NonStrKey,
  TooDeep,
  TimeWithTzinfo,
  KeyIntOver64Bits,
  KeyTypeUnsupported,
  ArrayMalformed,
  ArrayNotContiguous,
  ArrayNotNativeEndian,
  ArrayDtypeUnsupported,
  Datetime64Message,
  NotSerializable,
  // A tzinfo's utcoffset() gave an offset of a day or more, or something
  // that is neither a timedelta nor None.
  TzOffsetOutOfRange,
  TzOffsetNotDelta,
  // The interpreter's own exception (MemoryError from a buffer growth) is
  // pending and is raised as it is.
  PythonError,
};

// The outcome of a serializer step. Trivially copyable so that it travels in
// registers; the payload is owned by whoever holds a failed status, and the
// single consumer (dumps) releases it.
//  - NotSerializable: a new reference to the type that is named;
//  - Datetime64Message: a new reference to the str holding the text;
//  - TzOffsetOutOfRange: a new reference to a str naming the offset;
//  - TzOffsetNotDelta: a new reference to the type of what utcoffset() gave.
struct [[nodiscard]] EncodeStatus {
  EncodeErrorKind kind;
  PyObject* payload;

  static constexpr EncodeStatus ok() { return {EncodeErrorKind::Ok, nullptr}; }
  static constexpr EncodeStatus fail(EncodeErrorKind kind) { return {kind, nullptr}; }
  static EncodeStatus not_serializable(PyObject* obj) {
    return {EncodeErrorKind::NotSerializable, Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(obj)))};
  }
  static EncodeStatus datetime64_message(PyObject* owned_text) {
    return {EncodeErrorKind::Datetime64Message, owned_text};
  }
  static EncodeStatus offset_out_of_range(PyObject* owned_text) {
    return {EncodeErrorKind::TzOffsetOutOfRange, owned_text};
  }
  static EncodeStatus offset_not_delta(PyObject* result) {
    return {EncodeErrorKind::TzOffsetNotDelta, Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(result)))};
  }

  constexpr bool failed() const { return kind != EncodeErrorKind::Ok; }
};

#define VELLUM_TRY(expr)                                   \
  do {                                                     \
    if (::vellum::EncodeStatus s_ = (expr); s_.failed()) { \
      return s_;                                           \
    }                                                      \
  } while (0)

// Sets RecursionError for a thread whose stack is nearly used up; the caller
// fails with TooDeep, whose cause it becomes.
[[gnu::cold]] void raise_stack_exhausted();

// The fixed message of a kind, or null for the kinds that compose theirs.
const char* encode_error_text(EncodeErrorKind kind);

// The message as a new str (null with an exception pending if even that
// fails). Releases the status's payload.
PyObject* encode_error_message(EncodeStatus status);

}  // namespace vellum
