#include "dumps/output_buffer.hpp"

#include <utility>

#include "core/ffi/bytes_resize.hpp"

namespace vellum {

void OutputBuffer::drop_storage() {
  PyMem_Free(std::exchange(block_, ScratchBlock{}).data);
  Py_CLEAR(bytes_);
  data_ = nullptr;
  capacity_ = length_ = 0;
}

bool OutputBuffer::grow(size_t needed) {
  size_t capacity = capacity_;
  while (capacity <= needed) capacity *= 2;
  if (capacity > static_cast<size_t>(PY_SSIZE_T_MAX) - sizeof(PyBytesObject)) {
    drop_storage();
    PyErr_NoMemory();
    return false;
  }
  if (bytes_ == nullptr) {
    if (capacity > ScratchKeepMax[static_cast<size_t>(ScratchKind::Output)]) return move_to_bytes(needed, capacity);
    void* data = PyMem_Realloc(block_.data, capacity);
    if (data == nullptr) {
      drop_storage();
      PyErr_NoMemory();
      return false;
    }
    block_ = {data, capacity};
    data_ = static_cast<uint8_t*>(data);
    capacity_ = capacity;
    return true;
  }
  // On failure the interpreter releases the object, clears the reference and
  // sets MemoryError.
  if (!ffi::resize_bytes(bytes_, static_cast<Py_ssize_t>(capacity))) {
    drop_storage();
    return false;
  }
  capacity_ = capacity;
  data_ = reinterpret_cast<uint8_t*>(PyBytes_AS_STRING(bytes_));
  return true;
}

namespace {

// The C library maps every block above its mmap threshold afresh, and raises
// the threshold to the size of such a block when it is freed, up to 32 MiB.
// A result shrunk to its size would lift it to that size only, and a buffer
// grown past it again would be mapped and faulted in anew on every call of
// that size. So a large result keeps up to LargeOutputSlack bytes past its
// end (more than any writer reserves ahead; at most 1.6% of an output that
// outgrew the kept block), and the next large output starts at the capacity
// the last one had (when that is enough for what it needs now): from the
// heap, within the raised threshold.
constexpr size_t LargeOutputSlack = size_t{64} << 10;
constexpr size_t HighestMmapThreshold = size_t{32} << 20;

}  // namespace

// The output block goes back to be kept at once: a nested call may take it.
bool OutputBuffer::move_to_bytes(size_t needed, size_t capacity) {
  if (needed < scratch_.last_large_output) capacity = scratch_.last_large_output;
  bytes_ = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(capacity));
  if (bytes_ == nullptr) {
    drop_storage();
    return false;
  }
  uint8_t* const data = reinterpret_cast<uint8_t*>(PyBytes_AS_STRING(bytes_));
  std::memcpy(data, data_, length_);
  scratch_give_back(scratch_, ScratchKind::Output, std::exchange(block_, ScratchBlock{}));
  data_ = data;
  capacity_ = capacity;
  return true;
}

PyObject* OutputBuffer::finish(bool append_newline) {
  if (append_newline) {
    if (!reserve(1)) return nullptr;
    write_byte('\n');
  }
  if (bytes_ == nullptr)
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data_), static_cast<Py_ssize_t>(length_));
  // Shrinks the allocation to the slack (a failure releases the object and
  // sets MemoryError), then records the size and stores the terminating NUL.
  if (capacity_ > length_ + LargeOutputSlack) {
    if (!ffi::resize_bytes(bytes_, static_cast<Py_ssize_t>(length_ + LargeOutputSlack))) return nullptr;
    capacity_ = length_ + LargeOutputSlack;
  }
  scratch_.last_large_output = capacity_ <= HighestMmapThreshold ? capacity_ : 0;
  Py_SET_SIZE(bytes_, static_cast<Py_ssize_t>(length_));
  PyBytes_AS_STRING(bytes_)[length_] = 0;
  data_ = nullptr;
  length_ = capacity_ = 0;
  return std::exchange(bytes_, nullptr);
}

}  // namespace vellum
