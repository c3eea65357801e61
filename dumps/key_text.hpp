// Dict keys of other types than str as text (under OPT_NON_STR_KEYS): the
// conversion of one key, and the block that holds the texts of one dict.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/options.hpp"
#include "core/python.hpp"
#include "dumps/error.hpp"
#include "dumps/scratch.hpp"

namespace vellum {

// The key texts of one dict, back to back in one scratch block that grows as
// needed and is given back with the dict's writer, on success and on failure.
class KeyTexts {
 public:
  KeyTexts() = default;
  KeyTexts(const KeyTexts&) = delete;
  KeyTexts& operator=(const KeyTexts&) = delete;
  ~KeyTexts() {
    if (data_ != nullptr) scratch_give_back(ScratchKind::KeyTexts, {data_, capacity_});
  }

  // Every text is followed by at least this many readable bytes, so that a
  // short text is copied out with one fixed-size move.
  static constexpr size_t TailRoom = 32;

  // Room for n more bytes; false with MemoryError pending.
  [[nodiscard]] bool reserve(size_t n) {
    if (size_ + n + TailRoom > capacity_) [[unlikely]]
      return grow(size_ + n + TailRoom);
    return true;
  }
  uint8_t* cursor() { return data_ + size_; }
  void advance(size_t n) { size_ += n; }
  [[nodiscard]] bool append(const void* text, size_t n) {
    if (!reserve(n)) return false;
    if (n != 0) std::memcpy(cursor(), text, n);
    size_ += n;
    return true;
  }
  // A text kept in an array of N bytes, moved as all N.
  template <size_t N>
  [[nodiscard]] bool append_fixed(const uint8_t (&text)[N], size_t n) {
    if (!reserve(N)) return false;
    std::memcpy(cursor(), text, N);
    size_ += n;
    return true;
  }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  [[nodiscard]] bool grow(size_t needed);

  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// The options under which keys are converted: subclasses, date-time values
// and dataclasses are always recognised as what they are.
constexpr Options key_options(Options options) {
  return options & ~(OPT_PASSTHROUGH_SUBCLASS | OPT_PASSTHROUGH_DATETIME | OPT_PASSTHROUGH_DATACLASS);
}

// How a key's text is written: through the string escaper, or as it is
// (numbers, literals, date-times and UUIDs need no escaping).
enum class KeyText : uint8_t { Escaped, Plain };

// Appends the text of one key (str, int, bool, None, float, date-time,
// UUID, enum member or str subclass) to texts, or fails. May run Python code
// (a tzinfo, an enum's value); the caller holds the key.
EncodeStatus key_to_text(PyObject* key, Options options, KeyTexts& texts, KeyText& kind);

// An exact int key: its decimal text.
EncodeStatus int_key_text(PyObject* key, KeyTexts& texts);

}  // namespace vellum
