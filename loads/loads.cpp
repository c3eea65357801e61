#include "loads/loads.hpp"

#include <sys/mman.h>

#include "reader/document.hpp"
#include "reader/pool.hpp"
#include "loads/build.hpp"
#include "loads/error.hpp"
#include "kernels/utf8/utf8_routines.hpp"
#include "core/str/utf8_view.hpp"
#include "core/typeref.hpp"

namespace vellum {
namespace {

constexpr const char InputTypeMessage[] = "Input must be bytes, bytearray, memoryview, or str";
constexpr const char FileObjectMessage[] =
    "Input must be bytes, bytearray, memoryview, or str: read a file object with vellum.load";
constexpr const char Utf8Message[] = "str is not valid UTF-8: surrogates not allowed";
constexpr const char EmptyMessage[] = "Input is a zero-length, empty document";
constexpr const char BufferMessage[] = "Not enough memory to allocate buffer for parsing";

// What acquiring the input came to.
enum class Acquired {
  Text,         // data() and size() hold valid UTF-8
  WrongType,    // not one of the accepted types, or a memoryview that is not contiguous
  NotUtf8,      // byte input that is not UTF-8, or a str with a lone surrogate
  RaisedError,  // the interpreter's exception stands: a released memoryview, or MemoryError from
                // encoding a str
};

// The input's UTF-8 text, borrowed from the input object. A buffer is held
// (and released on destruction) only for memoryviews.
class InputView {
 public:
  InputView() = default;
  InputView(const InputView&) = delete;
  InputView& operator=(const InputView&) = delete;
  ~InputView() {
    if (buffer_.obj != nullptr) PyBuffer_Release(&buffer_);
  }

  Acquired acquire(PyObject* obj) {
    PyTypeObject* type = Py_TYPE(obj);
    if (type == &PyBytes_Type) {
      set(PyBytes_AS_STRING(obj), PyBytes_GET_SIZE(obj));
    } else if (type == &PyUnicode_Type) {
      Utf8View text;
      if (!string_utf8(obj, text))
        return PyErr_ExceptionMatches(PyExc_MemoryError) ? Acquired::RaisedError : Acquired::NotUtf8;
      data_ = text.data;
      size_ = text.size;
      return Acquired::Text;  // the interpreter's encoder guarantees valid UTF-8
    } else if (type == &PyByteArray_Type) {
      set(PyByteArray_AS_STRING(obj), PyByteArray_GET_SIZE(obj));
    } else if (type == &PyMemoryView_Type) {
      // Through the buffer protocol, which refuses a released view instead
      // of handing out memory that may be gone.
      if (PyObject_GetBuffer(obj, &buffer_, PyBUF_FULL_RO) != 0) return Acquired::RaisedError;
      if (!PyBuffer_IsContiguous(&buffer_, 'C')) return Acquired::WrongType;
      set(buffer_.buf, buffer_.len);
    } else {
      return Acquired::WrongType;
    }
    return utf8_routines.validate(data_, size_) ? Acquired::Text : Acquired::NotUtf8;
  }

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  void set(const void* data, Py_ssize_t size) {
    data_ = static_cast<const uint8_t*>(data);
    size_ = static_cast<size_t>(size);
  }

  Py_buffer buffer_{};
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// A failure found before the input is known to be text: no document.
PyObject* fail(const char* message) {
  raise_decode_error(message, nullptr, 0, 0);
  return nullptr;
}

// An input of another type. A file object is a common mistake, so one with a
// `read` attribute is a TypeError that points at load. Only this failure path
// looks the attribute up, which may run Python code and may raise. The name
// is the interned one: the interpreter's attribute cache keeps the names it
// is asked for, so a new str per call would fill it.
PyObject* fail_wrong_type(PyObject* obj) {
  const int has_read = PyObject_HasAttrWithError(obj, type_refs.name_read);
  if (has_read < 0) return nullptr;
  if (has_read == 0) return fail(InputTypeMessage);
  PyErr_SetString(PyExc_TypeError, FileObjectMessage);
  return nullptr;
}

// The documents of two bytes that need no reader.
PyObject* two_byte_document(const uint8_t* p) {
  if (p[0] == '"' && p[1] == '"') return Py_NewRef(type_refs.empty_str);
  if (p[0] == '{' && p[1] == '}') return PyDict_New();
  if (p[0] == '[' && p[1] == ']') return PyList_New(0);
  return nullptr;
}

// The parse buffer of one call. Small documents share one static block:
// loads never releases the interpreter lock and runs no Python code, so one
// call uses it at a time; the flag covers any unforeseen re-entry.
//
// The size covers the worst case, several times what a real document uses,
// so for a huge input it can exceed what the system agrees to commit in one
// piece although the document would fit. Such a buffer is mapped instead,
// with its pages committed only as the reader touches them.
class ParseBuffer {
 public:
  static constexpr size_t SharedSize = 64 * 1024;

  explicit ParseBuffer(size_t size) : size_(size) {
    if (size <= SharedSize && !shared_in_use) {
      shared_in_use = true;
      data_ = shared;
      return;
    }
    data_ = PyMem_Malloc(size);
    if (data_ != nullptr) return;
    void* mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapped != MAP_FAILED) {
      data_ = mapped;
      mapped_ = true;
    }
  }
  ParseBuffer(const ParseBuffer&) = delete;
  ParseBuffer& operator=(const ParseBuffer&) = delete;
  ~ParseBuffer() { release(); }

  void release() {
    if (data_ == shared)
      shared_in_use = false;
    else if (mapped_)
      munmap(data_, size_);
    else
      PyMem_Free(data_);
    data_ = nullptr;
    mapped_ = false;
  }
  void* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  alignas(64) static inline unsigned char shared[SharedSize];
  static inline bool shared_in_use = false;
  void* data_;
  size_t size_;
  bool mapped_ = false;
};

}  // namespace

}  // namespace vellum

extern "C" PyObject* loads(PyObject*, PyObject* obj) {
  using namespace vellum;
  InputView input;
  switch (input.acquire(obj)) {
    case Acquired::Text:
      break;
    case Acquired::WrongType:
      return fail_wrong_type(obj);
    case Acquired::NotUtf8:
      return fail(Utf8Message);
    case Acquired::RaisedError:
      return nullptr;
  }

  const uint8_t* text = input.data();
  const size_t length = input.size();
  if (length == 0) return fail(EmptyMessage);
  if (length == 2) {
    if (PyObject* result = two_byte_document(text)) return result;
  }

  ParseBuffer buffer(parse_buffer_size(length));
  if (buffer.data() == nullptr) {
    raise_decode_error(BufferMessage, text, length, 0);
    return nullptr;
  }

  ReaderAllocator allocator{};
  PoolAllocator::init(&allocator, buffer.data(), buffer.size());
  DecodeError error{};
  if (const JsonDocument* document = read_document(text, length, &allocator, &error)) {
    // Every container built here is new and acyclic: a collection run by
    // their allocations would only traverse them. No Python code runs
    // before the collector is enabled again.
    const int collecting = PyGC_Disable();
    PyObject* result = build_object(document->root);
    if (collecting) PyGC_Enable();
    return result;
  }
  // The reader's messages are static: the buffer may go first.
  buffer.release();
  raise_decode_error(error.message, text, length, error.position);
  return nullptr;
}
