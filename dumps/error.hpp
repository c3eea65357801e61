// Every way dumps can fail. A failure is raised where it is found, as the
// call's one exception, and the step returns the status that says so; the
// recursion passes that up and dumps returns null.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/pending_error.hpp"
#include "core/python.hpp"

namespace vellum {

// The failures whose message is fixed.
enum class EncodeErrorKind : uint8_t {
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
  DictChanged,
  ArrayMalformed,
  ArrayNotContiguous,
  ArrayNotNativeEndian,
  ArrayDtypeUnsupported,
};

// The outcome of a serializer step: done, or failed with the call's
// exception pending. A byte, so that it travels in a register; what a
// failure has to say (the type it names, an offset's text) is in the
// exception, owned by the interpreter from the moment the failure is found.
class [[nodiscard]] EncodeStatus {
 public:
  static constexpr EncodeStatus ok() { return EncodeStatus(false); }
  // The exception that ends the call is pending: raised by one of the
  // functions below, or MemoryError (a buffer growth) as it is.
  static constexpr EncodeStatus raised() { return EncodeStatus(true); }

  constexpr bool failed() const { return failed_; }

 private:
  constexpr explicit EncodeStatus(bool failed) : failed_(failed) {}
  bool failed_;
};

#define VELLUM_TRY(expr)                                   \
  do {                                                     \
    if (::vellum::EncodeStatus s_ = (expr); s_.failed()) { \
      return s_;                                           \
    }                                                      \
  } while (0)

// The failure itself, raised as JSONEncodeError with the exception that is
// pending (from default, the str encoder, an attribute lookup) as its
// cause; MemoryError and the exceptions that pass through are left as they
// are. Out of line and cold; the inline wrappers below tell the compiler
// that the status they return has failed.
[[gnu::cold]] void raise_encode_failure(EncodeErrorKind kind);
[[gnu::cold]] void raise_not_serializable(PyObject* obj);
[[gnu::cold]] void raise_offset_out_of_range(int64_t days, int64_t seconds, int64_t microseconds);
[[gnu::cold]] void raise_offset_not_delta(PyObject* result);
[[gnu::cold]] void raise_failure_text(std::string_view prefix, std::string_view text);

// The kind's own message.
inline EncodeStatus encode_failure(EncodeErrorKind kind) {
  raise_encode_failure(kind);
  return EncodeStatus::raised();
}
// "Type is not JSON serializable: " and the name of obj's type.
inline EncodeStatus not_serializable(PyObject* obj) {
  raise_not_serializable(obj);
  return EncodeStatus::raised();
}
// A UTC offset of a day or more: its whole text ("+30:00:00").
inline EncodeStatus offset_out_of_range(int64_t days, int64_t seconds, int64_t microseconds) {
  raise_offset_out_of_range(days, seconds, microseconds);
  return EncodeStatus::raised();
}
// What utcoffset() gave, when it is neither a timedelta nor None.
inline EncodeStatus offset_not_delta(PyObject* result) {
  raise_offset_not_delta(result);
  return EncodeStatus::raised();
}
// A message of a prefix and a text (numpy's datetime64 failures).
inline EncodeStatus encode_failure_text(std::string_view prefix, std::string_view text) {
  raise_failure_text(prefix, text);
  return EncodeStatus::raised();
}

// MemoryError (or an exception that passes through) is pending already.
inline EncodeStatus python_error() { return EncodeStatus::raised(); }

// Sets RecursionError for a thread whose stack is nearly used up; the caller
// fails with TooDeep, whose cause it becomes.
[[gnu::cold]] void raise_stack_exhausted();

// The fixed message of a kind.
const char* encode_error_text(EncodeErrorKind kind);

}  // namespace vellum
