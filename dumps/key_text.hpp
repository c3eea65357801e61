// Dict keys of other types than str as text (under OPT_NON_STR_KEYS): the
// conversion of one key, and the block that holds the texts of one dict.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/python.hpp"
#include "dumps/error.hpp"
#include "dumps/options.hpp"
#include "dumps/scratch.hpp"
#include "dumps/state.hpp"
#include "dumps/text.hpp"

namespace vellum {

// The key texts of one dict, back to back in one scratch block that grows as
// needed and is given back with the dict's writer, on success and on failure.
class KeyTexts {
 public:
  explicit KeyTexts(ScratchBlocks& scratch) : scratch_(scratch) {}
  KeyTexts(const KeyTexts&) = delete;
  KeyTexts& operator=(const KeyTexts&) = delete;
  ~KeyTexts() {
    if (data_ != nullptr) scratch_give_back(scratch_, ScratchKind::KeyTexts, {data_, capacity_});
  }

  // Room for n more bytes, and TextTailRoom readable ones after them (so
  // that write_text moves a short text as one fixed-size copy); false with
  // MemoryError pending.
  [[nodiscard]] bool reserve(size_t n) {
    if (size_ + n + TextTailRoom > capacity_) [[unlikely]]
      return grow(size_ + n + TextTailRoom);
    return true;
  }
  [[nodiscard]] bool append(const void* text, size_t n) {
    if (!reserve(n)) return false;
    if (n != 0) std::memcpy(data_ + size_, text, n);
    size_ += n;
    return true;
  }
  // A scalar key's text, formatted in place.
  [[gnu::always_inline]] EncodeStatus format(PyObject* key, DumpsState& state, Options options, Formatter format) {
    if (!reserve(MaxScalarText)) [[unlikely]]
      return python_error();
    ScalarText text{data_ + size_};
    VELLUM_TRY(format(key, state, options, text));
    size_ = static_cast<size_t>(text.end - data_);
    return EncodeStatus::ok();
  }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  [[nodiscard]] bool grow(size_t needed);

  ScratchBlocks& scratch_;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// The options under which keys are converted: subclasses, date-time values
// and dataclasses are always recognised as what they are, no option narrows
// an int, and a failure names the key.
constexpr Options key_options(Options options) {
  return (options & ~(OPT_PASSTHROUGH_SUBCLASS | OPT_PASSTHROUGH_DATETIME | OPT_PASSTHROUGH_DATACLASS |
                      OPT_STRICT_INTEGER)) |
         FormattingKey;
}

// How a key's text is written: through the string escaper, or as it is
// (the scalars' texts need no escaping).
enum class KeyText : uint8_t { Escaped, Plain };

// Appends the text of one key to texts, or fails: str and str subclasses
// (escaped later), the scalar kinds (their formatter), enum members (their
// value's text). May run Python code (a tzinfo, an enum's value); the caller
// holds the key. `options` are key_options().
EncodeStatus key_to_text(PyObject* key, DumpsState& state, Options options, KeyTexts& texts, KeyText& kind);

}  // namespace vellum
