#include "dumps/output_buffer.hpp"

#include "core/ffi/bytes_resize.hpp"

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
  if (!ffi::resize_bytes(bytes_, static_cast<Py_ssize_t>(capacity))) {
    data_ = nullptr;
    capacity_ = length_ = 0;
    return false;
  }
  capacity_ = capacity;
  data_ = storage();
  return true;
}

namespace {

// Results whose storage is kept as it is instead of being shrunk. The C
// library maps blocks above a moving threshold afresh, and raises the
// threshold to the size of the largest such block freed: shrinking a result
// of a few megabytes below the size its buffer reached kept every later call
// of that size above the threshold, so each one mapped, copied and faulted
// in its buffer anew. Kept unshrunk, the freed block lifts the threshold
// over the next buffer, which then comes from the heap; the cost is at most
// the unused half of the last doubling. Above the highest threshold the
// library uses (32 MiB) every block is mapped anyway, and shrinking returns
// the slack for free.
constexpr size_t KeepStorageFrom = size_t{1} << 20;
constexpr size_t KeepStorageUpTo = size_t{32} << 20;

}  // namespace

PyObject* OutputBuffer::finish(bool append_newline) {
  if (!reserve(2)) return nullptr;
  if (append_newline) write_byte('\n');
  data_[length_] = 0;
  if (capacity_ >= KeepStorageFrom && capacity_ <= KeepStorageUpTo) {
    Py_SET_SIZE(bytes_, static_cast<Py_ssize_t>(length_));
    PyObject* result = bytes_;
    bytes_ = nullptr;
    data_ = nullptr;
    length_ = capacity_ = 0;
    return result;
  }
  // Shrinks the allocation, records the size and stores the terminating NUL;
  // a failure releases the object and sets MemoryError. (Recording the size
  // first would make the resize return early and keep the slack.)
  if (!ffi::resize_bytes(bytes_, static_cast<Py_ssize_t>(length_))) return nullptr;
  PyObject* result = bytes_;
  bytes_ = nullptr;
  data_ = nullptr;
  length_ = capacity_ = 0;
  return result;
}

}  // namespace vellum
