#include "loads/loads.hpp"

#include "core/str/utf8_view.hpp"
#include "kernels/utf8/utf8_encode.hpp"
#include "kernels/utf8/utf8_routines.hpp"
#include "loads/builder.hpp"
#include "loads/error.hpp"
#include "loads/state.hpp"
#include "reader/reader.hpp"

namespace vellum {
namespace {

constexpr const char InputTypeMessage[] = "Input must be bytes, bytearray, memoryview, or str";
constexpr const char FileObjectMessage[] =
    "Input must be bytes, bytearray, memoryview, or str: read a file object with vellum.load";
constexpr const char Utf8Message[] = "str is not valid UTF-8: surrogates not allowed";
constexpr const char EmptyMessage[] = "Input is a zero-length, empty document";
constexpr const char BufferMessage[] = "Not enough memory to allocate buffer for parsing";

// How far past its zero byte the reader may read text that lies in the
// caller's object. Pages are at least 4096 bytes, so every byte up to the
// next multiple of 4096 lies in the page of that zero byte. The sanitizer
// build reads nothing past the object, so that it sees every access.
#if defined(__SANITIZE_ADDRESS__)
#define VELLUM_EXACT_READS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELLUM_EXACT_READS 1
#endif
#endif

const uint8_t* readable_limit(const uint8_t* end) {
#ifdef VELLUM_EXACT_READS
  return end + 1;
#else
  constexpr uintptr_t Page = 4096;
  return reinterpret_cast<const uint8_t*>((reinterpret_cast<uintptr_t>(end) | (Page - 1)) + 1);
#endif
}

// Bytes of a private copy past the text's zero byte: the number reader's
// reach, and a whole block of the widest string scan.
constexpr size_t CopyPadding = 64;
static_assert(CopyPadding >= NumberReach);

// What acquiring the input came to.
enum class Acquired {
  Text,         // the text is ready to read
  WrongType,    // not one of the accepted types, or a memoryview that is not contiguous
  NotUtf8,      // a str with a lone surrogate
  NoMemory,     // the private copy of bytes could not be made
  RaisedError,  // the interpreter's exception stands: a released memoryview, or MemoryError from
                // encoding a str
};

// The input's text, as the reader reads it. bytes and str are immutable and
// end in a zero byte: they are read in place, a str where it holds its UTF-8
// (ASCII, or encoded before). A bytearray or a memoryview may change under
// another thread's hands or lack the zero byte: their text is copied first,
// as the UTF-8 of any other str is made, into a small block here or, when
// larger, into one taken for the call.
class InputText {
 public:
  InputText() = default;
  InputText(const InputText&) = delete;
  InputText& operator=(const InputText&) = delete;
  ~InputText() {
    if (buffer_.obj != nullptr) PyBuffer_Release(&buffer_);
    if (copy_ != nullptr && copy_ != small_) PyMem_Free(copy_);
  }

  Acquired acquire(PyObject* obj) {
    PyTypeObject* type = Py_TYPE(obj);
    if (type == &PyBytes_Type) {
      in_place(PyBytes_AS_STRING(obj), PyBytes_GET_SIZE(obj));
      bytes_ = true;
      return Acquired::Text;
    }
    if (type == &PyUnicode_Type) {
      Utf8View text;
      if (!held_utf8(obj, text)) return encoded(obj);
      in_place(text.data, static_cast<Py_ssize_t>(text.size));
      return Acquired::Text;
    }
    bytes_ = true;
    if (type == &PyByteArray_Type) return copied(PyByteArray_AS_STRING(obj), PyByteArray_GET_SIZE(obj));
    if (type == &PyMemoryView_Type) {
      // Through the buffer protocol, which refuses a released view instead
      // of handing out memory that may be gone.
      if (PyObject_GetBuffer(obj, &buffer_, PyBUF_FULL_RO) != 0) return Acquired::RaisedError;
      if (!PyBuffer_IsContiguous(&buffer_, 'C')) return Acquired::WrongType;
      return copied(buffer_.buf, buffer_.len);
    }
    return Acquired::WrongType;
  }

  const uint8_t* data() const { return begin_; }
  size_t size() const { return size_; }
  // Byte input (as opposed to a str) has not been validated as UTF-8.
  bool is_bytes() const { return bytes_; }
  ReaderInput reader_input(DecodeError* error) const { return {begin_, begin_ + size_, limit_, error}; }

 private:
  static constexpr size_t SmallCopy = 512;

  void in_place(const void* data, Py_ssize_t size) {
    begin_ = static_cast<const uint8_t*>(data);
    size_ = static_cast<size_t>(size);
    limit_ = readable_limit(begin_ + size_);
  }

  // The UTF-8 of a str that holds none, made in memory of the call's own: the
  // interpreter's encoder would leave its copy in the caller's str for as
  // long as the str lives. Valid UTF-8 unless the str holds a surrogate.
  Acquired encoded(PyObject* str) {
    const size_t n = static_cast<size_t>(PyUnicode_GET_LENGTH(str));
    const unsigned kind = PyUnicode_KIND(str);
    if (n > (PY_SSIZE_T_MAX - CopyPadding) / 4 || !reserve(utf8_bound(n, kind))) {
      PyErr_NoMemory();
      return Acquired::RaisedError;
    }
    size_ = utf8_encode(PyUnicode_DATA(str), n, kind, copy_);
    if (size_ == Utf8Unencodable) return Acquired::NotUtf8;
    padded();
    return Acquired::Text;
  }

  // A private block for n bytes and the padding; false when it cannot be had.
  bool reserve(size_t n) {
    if (n + CopyPadding <= SmallCopy) {
      copy_ = small_;
      return true;
    }
    copy_ = n <= PY_SSIZE_T_MAX - CopyPadding ? static_cast<uint8_t*>(PyMem_Malloc(n + CopyPadding)) : nullptr;
    return copy_ != nullptr;
  }

  // The private copy of size_ bytes made readable: its zero byte and padding.
  void padded() {
    std::memset(copy_ + size_, 0, CopyPadding);
    begin_ = copy_;
    limit_ = copy_ + size_ + CopyPadding;
  }

  Acquired copied(const void* data, Py_ssize_t size) {
    size_ = static_cast<size_t>(size);
    if (!reserve(size_)) {
      begin_ = static_cast<const uint8_t*>(data);  // for the failure's document
      return Acquired::NoMemory;
    }
    std::memcpy(copy_, data, size_);
    padded();
    return Acquired::Text;
  }

  Py_buffer buffer_{};
  const uint8_t* begin_ = nullptr;
  const uint8_t* limit_ = nullptr;
  size_t size_ = 0;
  bool bytes_ = false;
  uint8_t* copy_ = nullptr;
  alignas(16) uint8_t small_[SmallCopy];
};

// A failure found before the input is known to be text: no document.
PyObject* fail(const LoadsState& state, const char* message) {
  raise_decode_error(state, message, nullptr, 0, 0);
  return nullptr;
}

// An input of another type. A file object is a common mistake, so one with a
// `read` attribute is a TypeError that points at load. Only this failure path
// looks the attribute up, which may run Python code and may raise. The name
// is the interned one: the interpreter's attribute cache keeps the names it
// is asked for, so a new str per call would fill it.
PyObject* fail_wrong_type(const LoadsState& state, PyObject* obj) {
  const int has_read = PyObject_HasAttrWithError(obj, state.read_name);
  if (has_read < 0) return nullptr;
  if (has_read == 0) return fail(state, InputTypeMessage);
  PyErr_SetString(PyExc_TypeError, FileObjectMessage);
  return nullptr;
}

// The documents of two bytes that need no reader.
PyObject* two_byte_document(const LoadsState& state, const uint8_t* p) {
  if (p[0] == '"' && p[1] == '"') return Py_NewRef(state.empty_str);
  if (p[0] == '{' && p[1] == '}') return PyDict_New();
  if (p[0] == '[' && p[1] == ']') return PyList_New(0);
  return nullptr;
}

// Below this size a document cannot make enough containers to start a
// collection worth avoiding, and switching the collector off and on again
// would cost more than the document.
constexpr size_t CollectorPauseFrom = 4096;

constexpr TextBuffer::Memory TextMemory{[](void* block, size_t size) { return PyMem_Realloc(block, size); },
                                        [](void* block) { PyMem_Free(block); }};

// Whether a parse_float callable raised: its exception ends the call as it
// is. (The plain builder calls no Python code.)
bool callable_raised(const PyBuilder&) { return false; }
bool callable_raised(const ParseFloatBuilder& builder) { return builder.callable_raised(); }

// Runs the reader over the text; the result, or null with the exception set.
// `pause_collector`: no Python code runs during the read.
template <class Builder>
PyObject* read(LoadsState& state, const InputText& text, Builder& builder, bool pause_collector) {
  DecodeError error{};
  const ReaderInput input = text.reader_input(&error);
  TextBuffer buffer(TextMemory);
  // Every container built here is new and acyclic: a collection started by
  // their allocations would only traverse them.
  const bool pause = pause_collector && text.size() >= CollectorPauseFrom && PyGC_Disable();
  const bool ok = read_json(input, builder, buffer);
  if (pause) PyGC_Enable();
  if (ok) [[likely]]
    return builder.take_root();
  if (callable_raised(builder)) return nullptr;
  // Byte input is validated only where the reader met a byte above 0x7F in
  // a string; invalid UTF-8 anywhere in it is still the failure reported,
  // whatever else went wrong.
  if (builder.found_invalid_utf8() || (text.is_bytes() && !utf8_routines.validate(text.data(), text.size()))) {
    raise_invalid_utf8(state, Utf8Message, text.data(), text.size());
    return nullptr;
  }
  if (error.code == ReadErrorCode::Stopped) return nullptr;  // the builder's exception stands
  if (error.code == ReadErrorCode::OutOfMemory) return PyErr_NoMemory();
  raise_decode_error(state, error.message, text.data(), text.size(), error.position);
  return nullptr;
}

void raise_argument_error(const char* message) { PyErr_SetString(PyExc_TypeError, message); }

// loads(obj, /, *, parse_float=None): false with TypeError set otherwise.
// The messages of a call without parse_float are those the interpreter
// gave when loads took exactly one argument and no keywords.
bool decode_arguments(const LoadsState& state, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
                      PyObject*& obj, PyObject*& parse_float) {
  const Py_ssize_t n = PyVectorcall_NARGS(nargsf);
  const Py_ssize_t nkw = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
  parse_float = nullptr;
  for (Py_ssize_t i = 0; i < nkw; ++i) {
    PyObject* const name = PyTuple_GET_ITEM(kwnames, i);
    // Keyword names are strs: identity decides the common case, equality
    // one built at run time.
    if (name != state.parse_float_name && PyUnicode_Compare(name, state.parse_float_name) != 0) {
      raise_argument_error("vellum.loads() takes no keyword arguments");
      return false;
    }
    parse_float = args[n + i];
  }
  if (n != 1) {
    PyErr_Format(PyExc_TypeError, "vellum.loads() takes exactly one argument (%zd given)", n);
    return false;
  }
  obj = args[0];
  if (parse_float == Py_None) parse_float = nullptr;
  if (parse_float != nullptr && !PyCallable_Check(parse_float)) {
    PyErr_Format(PyExc_TypeError, "parse_float must be callable or None, not %s", Py_TYPE(parse_float)->tp_name);
    return false;
  }
  return true;
}

}  // namespace

PyObject* loads(LoadsState& state, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  PyObject* obj;
  PyObject* parse_float;
  if (!decode_arguments(state, args, nargsf, kwnames, obj, parse_float)) return nullptr;
  InputText text;
  switch (text.acquire(obj)) {
    case Acquired::Text:
      break;
    case Acquired::WrongType:
      return fail_wrong_type(state, obj);
    case Acquired::NotUtf8:
      return fail(state, Utf8Message);
    case Acquired::NoMemory:
      // Not known to be text yet: the document is given only when it is.
      if (!utf8_routines.validate(text.data(), text.size())) {
        raise_invalid_utf8(state, Utf8Message, text.data(), text.size());
        return nullptr;
      }
      raise_decode_error(state, BufferMessage, text.data(), text.size(), 0);
      return nullptr;
    case Acquired::RaisedError:
      return nullptr;
  }
  if (text.size() == 0) return fail(state, EmptyMessage);
  if (text.size() == 2) {
    if (PyObject* result = two_byte_document(state, text.data())) return result;
  }
  if (parse_float == nullptr) {
    PyBuilder builder(state);
    return read(state, text, builder, true);
  }
  // Decimal's construction from a str runs no Python code, other callables may.
  ParseFloatBuilder builder(state, parse_float);
  return read(state, text, builder, parse_float == state.decimal_type);
}

}  // namespace vellum
