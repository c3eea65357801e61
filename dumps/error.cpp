#include "dumps/error.hpp"

#include <cstdio>

#include "core/pyref.hpp"
#include "core/str/utf8_to_str.hpp"

namespace vellum {

const char* encode_error_text(EncodeErrorKind kind) {
  switch (kind) {
    case EncodeErrorKind::TzUnreadable:
      return "datetime's timezone library is not supported: use datetime.timezone.utc, pendulum, pytz, or "
             "dateutil";
    case EncodeErrorKind::DefaultTooDeep:
      return "default serializer exceeds recursion limit";
    case EncodeErrorKind::IntOver53Bits:
      return "Integer exceeds 53-bit range";
    case EncodeErrorKind::IntOver64Bits:
      return "Integer exceeds 64-bit range";
    case EncodeErrorKind::StrNotUtf8:
      return "str is not valid UTF-8: surrogates not allowed";
    case EncodeErrorKind::FragmentBadContent:
      return "vellum.Fragment's content is not of type bytes or str";
    case EncodeErrorKind::NonStrKey:
      return "Dict key must be str";
    case EncodeErrorKind::TooDeep:
      return "Recursion limit reached";
    case EncodeErrorKind::TimeWithTzinfo:
      return "datetime.time must not have tzinfo set";
    case EncodeErrorKind::KeyIntOver64Bits:
      return "Dict integer key must be within 64-bit range";
    case EncodeErrorKind::KeyTypeUnsupported:
      return "Dict key must a type serializable with OPT_NON_STR_KEYS";
    case EncodeErrorKind::DictChanged:
      return "dict changed size during serialization";
    case EncodeErrorKind::ArrayMalformed:
      return "numpy array is malformed";
    case EncodeErrorKind::ArrayNotContiguous:
      return "numpy array is not C contiguous; use ndarray.tolist() in default";
    case EncodeErrorKind::ArrayNotNativeEndian:
      return "numpy array is not native-endianness";
    case EncodeErrorKind::ArrayDtypeUnsupported:
      return "unsupported datatype in numpy array";
  }
  return "";
}

void raise_stack_exhausted() {
  PyErr_SetString(PyExc_RecursionError, "maximum recursion depth exceeded: the thread's stack is nearly used up");
}

namespace {

// Raises JSONEncodeError (TypeError itself) with the message make() returns
// (a new str, or null with MemoryError pending) and the pending exception,
// if any, as its cause. MemoryError and the exceptions that pass through
// stay as they are.
template <class Make>
void raise_encode_error(Make make) {
  if (pending_error_passes_through()) return;
  PyRef cause = PyRef::steal(PyErr_GetRaisedException());
  const PyRef message = PyRef::steal(make());
  if (!message) return;
  PyErr_SetObject(PyExc_TypeError, message.get());
  if (cause) {
    PyObject* error = PyErr_GetRaisedException();
    // Making the error itself may have run out of memory.
    if (PyErr_GivenExceptionMatches(error, PyExc_TypeError)) PyException_SetCause(error, cause.release());
    PyErr_SetRaisedException(error);
  }
}

PyObject* str_of(std::string_view text) {
  return utf8_to_str(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

}  // namespace

void raise_encode_failure(EncodeErrorKind kind) {
  raise_encode_error([kind] { return str_of(encode_error_text(kind)); });
}

void raise_not_serializable(PyObject* obj) {
  // tp_name is read as UTF-8, invalid sequences replaced.
  raise_encode_error(
      [obj] { return PyUnicode_FromFormat("Type is not JSON serializable: %s", Py_TYPE(obj)->tp_name); });
}

void raise_offset_out_of_range(int64_t days, int64_t seconds, int64_t microseconds) {
  // "+30:00:00", "-24:00:00", "+24:00:00.000001": the whole offset.
  int64_t total = days * 86400 + seconds;
  char sign = '+';
  if (total < 0) {
    sign = '-';
    total = -total;
    if (microseconds != 0) {
      total -= 1;
      microseconds = 1000000 - microseconds;
    }
  }
  char text[64];
  const int n = std::snprintf(text, sizeof text, "%c%lld:%02lld:%02lld", sign, static_cast<long long>(total / 3600),
                              static_cast<long long>(total / 60 % 60), static_cast<long long>(total % 60));
  if (microseconds != 0)
    std::snprintf(text + n, sizeof text - static_cast<size_t>(n), ".%06lld", static_cast<long long>(microseconds));
  raise_encode_error(
      [&text] { return PyUnicode_FromFormat("datetime's UTC offset must be strictly within 24 hours, got %s", text); });
}

void raise_offset_not_delta(PyObject* result) {
  raise_encode_error([result] {
    return PyUnicode_FromFormat("datetime's tzinfo.utcoffset() must return a timedelta or None, not %s",
                                Py_TYPE(result)->tp_name);
  });
}

void raise_failure_text(std::string_view prefix, std::string_view text) {
  raise_encode_error([prefix, text]() -> PyObject* {
    const PyRef head = PyRef::steal(str_of(prefix));
    const PyRef tail = PyRef::steal(head ? str_of(text) : nullptr);
    return tail ? PyUnicode_Concat(head.get(), tail.get()) : nullptr;
  });
}

}  // namespace vellum
