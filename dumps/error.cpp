#include "dumps/error.hpp"

#include <cstring>

#include "core/str/utf8_to_str.hpp"
#include "core/typeref.hpp"

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
    case EncodeErrorKind::ArrayMalformed:
      return "numpy array is malformed";
    case EncodeErrorKind::ArrayNotContiguous:
      return "numpy array is not C contiguous; use ndarray.tolist() in default";
    case EncodeErrorKind::ArrayNotNativeEndian:
      return "numpy array is not native-endianness";
    case EncodeErrorKind::ArrayDtypeUnsupported:
      return "unsupported datatype in numpy array";
    case EncodeErrorKind::Ok:
    case EncodeErrorKind::Datetime64Message:
    case EncodeErrorKind::NotSerializable:
    case EncodeErrorKind::TzOffsetOutOfRange:
    case EncodeErrorKind::TzOffsetNotDelta:
    case EncodeErrorKind::PythonError:
      break;
  }
  return nullptr;
}

void raise_stack_exhausted() {
  PyErr_SetString(PyExc_RecursionError, "maximum recursion depth exceeded: the thread's stack is nearly used up");
}

PyObject* encode_error_message(EncodeStatus status) {
  switch (status.kind) {
    case EncodeErrorKind::NotSerializable: {
      // tp_name is read as UTF-8, invalid sequences replaced.
      auto* type = reinterpret_cast<PyTypeObject*>(status.payload);
      PyObject* msg = PyUnicode_FromFormat("Type is not JSON serializable: %s", type->tp_name);
      Py_DECREF(status.payload);
      return msg;
    }
    case EncodeErrorKind::Datetime64Message:
      return status.payload;
    case EncodeErrorKind::TzOffsetOutOfRange: {
      PyObject* msg = PyUnicode_FromFormat("datetime's UTC offset must be strictly within 24 hours, got %U",
                                           status.payload);
      Py_DECREF(status.payload);
      return msg;
    }
    case EncodeErrorKind::TzOffsetNotDelta: {
      auto* type = reinterpret_cast<PyTypeObject*>(status.payload);
      PyObject* msg =
          PyUnicode_FromFormat("datetime's tzinfo.utcoffset() must return a timedelta or None, not %s", type->tp_name);
      Py_DECREF(status.payload);
      return msg;
    }
    default: {
      const char* text = encode_error_text(status.kind);
      return utf8_to_str(reinterpret_cast<const uint8_t*>(text), std::strlen(text));
    }
  }
}

}  // namespace vellum
