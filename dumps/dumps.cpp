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

// A note shows at most this many characters of a str.
constexpr Py_ssize_t ShownLength = 40;

// How a note shows a value that the caller gave: the repr of an exact int,
// bool, float or str (a str's cut to ShownLength characters), which runs
// none of the caller's code; any other value by its type's name. A new
// reference, or null with an exception pending.
PyObject* shown_value(PyObject* value) {
  PyTypeObject* type = Py_TYPE(value);
  if (type == &PyLong_Type) {
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(value, &overflow);
    return overflow != 0 ? PyUnicode_FromString("an int of 64 bits or more") : PyUnicode_FromFormat("%lld", v);
  }
  if (type == &PyBool_Type || type == &PyFloat_Type) return PyObject_Repr(value);
  // A keyword name may be a str subclass: its text is copied to a plain str.
  if (PyUnicode_Check(value)) {
    const PyRef cut = PyRef::steal(PyUnicode_Substring(value, 0, ShownLength));
    if (!cut) return nullptr;
    const bool longer = PyUnicode_GET_LENGTH(value) > ShownLength;
    return PyUnicode_FromFormat(longer ? "%R..." : "%R", cut.get());
  }
  return PyUnicode_FromFormat("an object of type %s", type->tp_name);
}

// The message stays the text that callers match on; a note names what was
// at fault (`format` takes the shown value as %U, then `more`). When the
// note cannot be made, its failure (MemoryError) is raised instead.
template <class... More>
void raise_argument_error(const TypeRegistry& types, const char* message, const char* format, PyObject* value,
                          More... more) {
  const PyRef shown = PyRef::steal(shown_value(value));
  const PyRef note = PyRef::steal(shown ? PyUnicode_FromFormat(format, shown.get(), more...) : nullptr);
  if (!note) return;
  raise_argument_error(message);
  PyObject* error = PyErr_GetRaisedException();
  if (PyRef::steal(PyObject_CallMethodOneArg(error, types.name<"add_note">(), note.get()))) {
    PyErr_SetRaisedException(error);
  } else {
    Py_DECREF(error);
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
      if (kw == Keyword::Other) {
        raise_argument_error(types, "dumps() got an unexpected keyword argument", "unexpected keyword: %U",
                             PyTuple_GET_ITEM(kwnames, i));
      } else {
        raise_argument_error(kw == Keyword::Option ? "dumps() got multiple values for argument: 'option'"
                                                   : "dumps() got multiple values for argument: 'default'");
      }
      return false;
    }
  }
  // The signature says default=None: an explicit None is no default.
  if (out.default_ == Py_None) out.default_ = nullptr;
  return true;
}

// 0 to MaxOptions as an exact int, or None.
bool decode_options(PyObject* option, const TypeRegistry& types, Options& options) {
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
  raise_argument_error(types, "Invalid opts",
                       "option given: %U; expected None or an int from 0 to %u, OPT_ flags combined with |", option,
                       static_cast<unsigned>(MaxOptions));
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
  if (!decode_arguments(args, nargsf, kwnames, state.types, arguments) ||
      !decode_options(arguments.option, state.types, options))
    return nullptr;

  if (!stack_has_room()) {
    raise_encode_failure(EncodeErrorKind::TooDeep);
    return nullptr;
  }

  OutputBuffer out;
  if (!out.create()) return nullptr;
  const EncodeStatus status = (options & OPT_INDENT_2) ? serialize_root<IndentLayout>(arguments, state, options, out)
                                                       : serialize_root<CompactLayout>(arguments, state, options, out);
  // A failure was raised where it was found.
  return status.failed() ? nullptr : out.finish(options & OPT_APPEND_NEWLINE);
}

}  // namespace vellum
