#include "src/serialize/output_buffer.hpp"

namespace vellum {

bool OutputBuffer::grow(size_t needed) {
  size_t capacity = capacity_;
  while (capacity <= needed) capacity *= 2;
  if (capacity > static_cast<size_t>(PY_SSIZE_T_MAX) - sizeof(PyBytesObject)) {
    Py_CLEAR(bytes_);
    PyErr_NoMemory();
    return false;
  }
  // On failure the interpreter releases the object, clears the reference and
  // sets MemoryError.
  if (_PyBytes_Resize(&bytes_, static_cast<Py_ssize_t>(capacity)) != 0) {
    data_ = nullptr;
    capacity_ = length_ = 0;
    return false;
  }
  capacity_ = capacity;
  data_ = storage();
  return true;
}

PyObject* OutputBuffer::finish(bool append_newline) {
  if (!reserve(2)) return nullptr;
  if (append_newline) write_byte('\n');
  data_[length_] = 0;
  // Shrinks the allocation, records the size and stores the terminating NUL;
  // a failure releases the object and sets MemoryError. (Recording the size
  // first would make the resize return early and keep the slack.)
  if (_PyBytes_Resize(&bytes_, static_cast<Py_ssize_t>(length_)) != 0) return nullptr;
  PyObject* result = bytes_;
  bytes_ = nullptr;
  data_ = nullptr;
  length_ = capacity_ = 0;
  return result;
}

}  // namespace vellum
