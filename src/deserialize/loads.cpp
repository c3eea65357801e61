#include "src/deserialize/loads.hpp"

#include <algorithm>
#include <cstring>

#include "reader/document.hpp"
#include "reader/pool.hpp"
#include "src/deserialize/build.hpp"
#include "src/deserialize/error.hpp"
#include "src/deserialize/utf8/validate.hpp"
#include "src/serialize/string.hpp"
#include "src/typeref.hpp"

namespace vellum {
namespace {

constexpr const char input_type_message[] = "Input must be bytes, bytearray, memoryview, or str";
constexpr const char utf8_message[] = "str is not valid UTF-8: surrogates not allowed";
constexpr const char empty_message[] = "Input is a zero-length, empty document";
constexpr const char buffer_message[] = "Not enough memory to allocate buffer for parsing";

constexpr size_t round_up16(size_t n) { return (n + 15) & ~size_t{15}; }

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

  // Null on success, else the failure's message (with a Python exception
  // pending for a released memoryview, which is raised as it is).
  const char* acquire(PyObject* obj) {
    PyTypeObject* type = Py_TYPE(obj);
    if (type == &PyBytes_Type) {
      set(PyBytes_AS_STRING(obj), PyBytes_GET_SIZE(obj));
    } else if (type == &PyUnicode_Type) {
      Utf8View text;
      if (!string_utf8(obj, text)) return utf8_message;
      data_ = text.data;
      size_ = text.size;
      return nullptr;  // the interpreter's encoder guarantees valid UTF-8
    } else if (type == &PyByteArray_Type) {
      set(PyByteArray_AS_STRING(obj), PyByteArray_GET_SIZE(obj));
    } else if (type == &PyMemoryView_Type) {
      // Through the buffer protocol, which refuses a released view instead
      // of handing out memory that may be gone.
      if (PyObject_GetBuffer(obj, &buffer_, PyBUF_FULL_RO) != 0) return nullptr;
      if (!PyBuffer_IsContiguous(&buffer_, 'C')) return input_type_message;
      set(buffer_.buf, buffer_.len);
    } else {
      return input_type_message;
    }
    return validate_utf8(data_, size_) ? nullptr : utf8_message;
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

PyObject* fail(const char* message, const uint8_t* document = nullptr, size_t length = 0, size_t position = 0) {
  raise_decode_error(LoadsFailure{message, document, length, position});
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
class ParseBuffer {
 public:
  static constexpr size_t SharedSize = 64 * 1024;

  explicit ParseBuffer(size_t size) : size_(size) {
    if (size <= SharedSize && !shared_in_use) {
      shared_in_use = true;
      data_ = shared;
    } else {
      data_ = PyMem_Malloc(size);
    }
  }
  ParseBuffer(const ParseBuffer&) = delete;
  ParseBuffer& operator=(const ParseBuffer&) = delete;
  ~ParseBuffer() { release(); }

  void release() {
    if (data_ == shared)
      shared_in_use = false;
    else
      PyMem_Free(data_);
    data_ = nullptr;
  }
  void* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  alignas(64) static inline unsigned char shared[SharedSize];
  static inline bool shared_in_use = false;
  void* data_;
  size_t size_;
};

}  // namespace

size_t parse_buffer_size(size_t length) {
  // 12 bytes per input byte serve real documents with room to grow.
  const size_t usual = ((length / 2) * 24 + 4344) & ~size_t{4095};
  // The worst case: every container bracket a record of its own (at most
  // 1024 open at once) and every other value at least two bytes ("0,"), so
  // at most length / 2 + 1024 records, plus the header, the growth margin,
  // the input copy with its zero tail, and the pool's own records.
  const size_t records = length / 2 + 1024 + 4 + 8;
  const size_t worst = 16 * 4 + round_up16(length + ZeroTail) + 16 * records + 64;
  return std::max(usual, worst);
}

}  // namespace vellum

extern "C" PyObject* loads(PyObject*, PyObject* obj) {
  using namespace vellum;
  InputView input;
  if (const char* message = input.acquire(obj)) return fail(message);
  if (PyErr_Occurred()) return nullptr;  // a released memoryview: its ValueError stands

  const uint8_t* text = input.data();
  const size_t length = input.size();
  if (length == 0) return fail(empty_message);
  if (length == 2) {
    if (PyObject* result = two_byte_document(text)) return result;
  }

  ParseBuffer buffer(parse_buffer_size(length));
  if (buffer.data() == nullptr) return fail(buffer_message, text, length, 0);

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
  return fail(error.message, text, length, error.position);
}
