// dumps writes into a block kept between calls and copies the result out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/python.hpp"
#include "dumps/scratch.hpp"

namespace vellum {

// The output is written into the module's kept output block (a scratch
// block), so that calls of a size already seen neither allocate, map nor
// fault in pages while they write, and finish copies it into a bytes object
// of the exact size. An output that outgrows the kept block's bound moves
// once into a bytes object of its own, which grows in place and is shrunk
// at the end to a small slack (output_buffer.cpp says why): copying it out
// again would cost more than the pages it faults in.
class OutputBuffer {
 public:
  // A block of this size comes from the interpreter's small-object
  // allocator: a nested call (from `default`), which finds the kept block
  // taken, makes and frees its own without the C library's allocator.
  static constexpr size_t InitialCapacity = 512;

  explicit OutputBuffer(ScratchBlocks& scratch) : scratch_(scratch) {}
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;
  ~OutputBuffer() {
    if (block_.data != nullptr) scratch_give_back(scratch_, ScratchKind::Output, block_);
    Py_XDECREF(bytes_);
  }

  // False with MemoryError pending.
  [[nodiscard]] bool create() {
    block_ = scratch_take(scratch_, ScratchKind::Output, InitialCapacity);
    if (block_.data == nullptr) return false;
    capacity_ = block_.capacity;
    data_ = static_cast<uint8_t*>(block_.data);
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
  // pending. Nothing may be written afterwards.
  PyObject* finish(bool append_newline);

 private:
  [[nodiscard]] bool grow(size_t needed);
  [[nodiscard]] bool move_to_bytes(size_t needed, size_t capacity);
  void drop_storage();

  ScratchBlocks& scratch_;
  // The storage: the output block while the output fits in what is kept,
  // then a bytes object of its own.
  ScratchBlock block_;
  PyObject* bytes_ = nullptr;
  uint8_t* data_ = nullptr;
  size_t length_ = 0;
  size_t capacity_ = 0;
};

}  // namespace vellum
