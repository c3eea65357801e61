// dumps writes straight into the storage of the bytes object it returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/python.hpp"

namespace vellum {

class OutputBuffer {
 public:
  // Small enough that the bytes object comes from the interpreter's own
  // small-object allocator (requests up to 512 bytes), so that a short
  // result is made, shrunk and freed without the C library's allocator.
  static constexpr size_t InitialCapacity = 512 - (offsetof(PyBytesObject, ob_sval) + 1);

  OutputBuffer() = default;
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;
  ~OutputBuffer() { Py_XDECREF(bytes_); }

  // False with MemoryError pending.
  [[nodiscard]] bool create() {
    bytes_ = PyBytes_FromStringAndSize(nullptr, InitialCapacity);
    if (bytes_ == nullptr) return false;
    capacity_ = InitialCapacity;
    data_ = storage();
    return true;
  }

  // Afterwards at least n + 1 bytes are free. False with MemoryError pending
  // (the storage is gone: nothing more may be written).
  [[nodiscard, gnu::always_inline]] bool reserve(size_t n) {
    if (length_ + n >= capacity_) [[unlikely]]
      return grow(length_ + n);
    return true;
  }

  uint8_t* cursor() const { return data_ + length_; }
  void advance(size_t k) { length_ += k; }
  size_t length() const { return length_; }
  size_t capacity() const { return capacity_; }

  void write_byte(uint8_t b) { data_[length_++] = b; }
  void write_bytes(const void* src, size_t n) {
    std::memcpy(data_ + length_, src, n);
    length_ += n;
  }
  // Pre-serialized content, copied as is.
  [[nodiscard]] bool write_raw(const uint8_t* src, size_t n) {
    if (!reserve(n + 32)) return false;
    write_bytes(src, n);
    return true;
  }

  // The finished bytes object (new reference), or null with MemoryError
  // pending. The buffer is empty afterwards.
  PyObject* finish(bool append_newline);

 private:
  uint8_t* storage() const { return reinterpret_cast<uint8_t*>(PyBytes_AS_STRING(bytes_)); }
  [[nodiscard]] bool grow(size_t needed);

  PyObject* bytes_ = nullptr;
  uint8_t* data_ = nullptr;
  size_t length_ = 0;
  size_t capacity_ = 0;
};

}  // namespace vellum
