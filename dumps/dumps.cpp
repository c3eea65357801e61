// dumps(obj, /, default=None, option=None): arguments, options and result.
#include "dumps/dumps.hpp"

#include "core/ffi/long.hpp"
#include "dumps/serializer-inl.hpp"
#include "dumps/state.hpp"

namespace vellum {
namespace {

void raise_argument_error(const char* message) {
  if (PyObject* msg = PyUnicode_FromString(message)) {
    PyErr_SetObject(PyExc_TypeError, msg);
    Py_DECREF(msg);
  }
}

enum class Keyword { Default, Option, Other };

// Identity with the interned names decides the common case; a name built at
// run time (an options mapping read from a file, say) is equal but not
// identical, and is still the same keyword.
Keyword keyword_of(PyObject* name, const TypeRegistry& types) {
  PyObject* const option = types.name<"option">();
  PyObject* const default_ = types.name<"default">();
  if (name == option) return Keyword::Option;
  if (name == default_) return Keyword::Default;
  if (PyUnicode_Check(name)) {
    if (PyUnicode_Compare(name, option) == 0) return Keyword::Option;
    if (PyUnicode_Compare(name, default_) == 0) return Keyword::Default;
  }
  return Keyword::Other;
}

struct Arguments {
  PyObject* obj = nullptr;
  PyObject* default_ = nullptr;
  PyObject* option = nullptr;
};

bool decode_arguments(PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames, const TypeRegistry& types,
                      Arguments& out) {
  const Py_ssize_t n = PyVectorcall_NARGS(nargsf);
  if (n == 0) {
    raise_argument_error("dumps() missing 1 required positional argument: 'obj'");
    return false;
  }
  if (n > 3) {
    raise_argument_error("dumps() takes at most 3 positional arguments");
    return false;
  }
  out.obj = args[0];
  if (n >= 2) out.default_ = args[1];
  if (n == 3) out.option = args[2];

  const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t i = 0; i < nkw; ++i) {
    const Keyword kw = keyword_of(PyTuple_GET_ITEM(kwnames, i), types);
    if (kw == Keyword::Option && n < 3) {
      out.option = args[n + i];
    } else if (kw == Keyword::Default && n < 2) {
      out.default_ = args[n + i];
    } else {
      raise_argument_error(kw == Keyword::Option    ? "dumps() got multiple values for argument: 'option'"
                           : kw == Keyword::Default ? "dumps() got multiple values for argument: 'default'"
                                                    : "dumps() got an unexpected keyword argument");
      return false;
    }
  }
  // The signature says default=None: an explicit None is no default.
  if (out.default_ == Py_None) out.default_ = nullptr;
  return true;
}

// 0 to 4095 as an exact int, or None.
bool decode_options(PyObject* option, Options& options) {
  options = 0;
  if (option == nullptr || option == Py_None) return true;
  if (Py_TYPE(option) == &PyLong_Type) {
    const PyLongObject* v = ffi::as_long(option);
    if (ffi::long_sign(v) == ffi::LongSign::Zero) return true;
    if (ffi::long_sign(v) == ffi::LongSign::Positive && ffi::long_digit_count(v) == 1 &&
        ffi::long_digits(v)[0] <= MaxOptions) {
      options = static_cast<Options>(ffi::long_digits(v)[0]);
      return true;
    }
  }
  raise_argument_error("Invalid opts");
  return false;
}

template <class Layout>
EncodeStatus serialize_root(const Arguments& arguments, DumpsState& state, Options options, OutputBuffer& out) {
  Layout layout(out, state);
  return serialize_value(SerializeContext{arguments.obj, arguments.default_, options}, layout);
}

}  // namespace

PyObject* dumps(DumpsState& state, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  Arguments arguments;
  Options options;
  if (!decode_arguments(args, nargsf, kwnames, state.types, arguments) || !decode_options(arguments.option, options))
    return nullptr;

  if (!stack_has_room()) {
    raise_encode_failure(EncodeErrorKind::TooDeep);
    return nullptr;
  }

  OutputBuffer out(state.scratch);
  if (!out.create()) return nullptr;
  const EncodeStatus status = (options & OPT_INDENT_2) ? serialize_root<IndentLayout>(arguments, state, options, out)
                                                       : serialize_root<CompactLayout>(arguments, state, options, out);
  // A failure was raised where it was found.
  return status.failed() ? nullptr : out.finish(options & OPT_APPEND_NEWLINE);
}

}  // namespace vellum
