// The reader on arbitrary bytes, handing its values to a builder that makes
// the reference reader's value tree. Read in place from a block of exactly
// the text and its zero byte (the sanitizer sees any access past it), from
// the end of a page before an inaccessible one, and with bytes that may be
// read but are not text after the zero byte (as loads reads the caller's
// bytes): each must give what the reference reader predicts, the same
// values or the same failure with its message and position. Positions never
// pass the input's end and, for valid UTF-8, never fall inside a character.
// A text handed on as ASCII holds no byte above 0x7F. With memory for
// unescaped text that runs out, the reader either reads as before or fails
// for memory at a string's quotation mark; a builder that refuses a value
// stops it at that value's first byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "reader/reader.hpp"
#include "tests/fuzz/cpp/fuzz_support.hpp"
#include "tests/oracle/json.hpp"
#include "tests/oracle/text.hpp"

namespace vellum {
namespace {

using fuzz::expect;

// Builds the reference's tree from what the reader hands on, pending
// values on a stack as loads' builder keeps them; refuses its value number
// `refuse` (counting from 1; 0 refuses none).
class TreeBuilder {
 public:
  explicit TreeBuilder(size_t refuse = 0) : refuse_(refuse) {}

  oracle::Value root;
  size_t events = 0;
  const uint8_t* refused_text = nullptr;

  bool null_value() { return scalar(tag::Null, 0); }
  bool boolean(bool v) { return scalar(v ? tag::True : tag::False, 0); }
  bool unsigned_int(uint64_t v) { return scalar(tag::Unsigned, v); }
  bool signed_int(int64_t v) { return scalar(tag::Signed, static_cast<uint64_t>(v)); }
  bool real(double v) { return scalar(tag::Real, std::bit_cast<uint64_t>(v)); }
  bool string(const StringToken& s) { return text(s); }
  bool key(const StringToken& s) { return text(s); }
  bool open_array() { return open(tag::Array); }
  bool open_object() { return open(tag::Object); }
  bool close_array() { return close(); }
  bool close_object() { return close(); }

 private:
  size_t refuse_;
  std::vector<oracle::Value> open_;

  bool accept() { return ++events != refuse_; }
  void place(oracle::Value v) {
    if (open_.empty()) root = std::move(v);
    else open_.back().children.push_back(std::move(v));
  }
  bool scalar(uint8_t t, uint64_t payload) {
    if (!accept()) return false;
    oracle::Value v;
    v.tag = t;
    v.payload = payload;
    place(std::move(v));
    return true;
  }
  bool text(const StringToken& s) {
    if (!accept()) return false;
    if (s.ascii)
      for (size_t i = 0; i < s.length; ++i)
        expect(s.text[i] < 0x80, "a text handed on as ASCII holds the byte %02X", s.text[i]);
    oracle::Value v;
    v.tag = tag::String;
    v.text.assign(reinterpret_cast<const char*>(s.text), s.length);
    place(std::move(v));
    return true;
  }
  bool open(uint8_t t) {
    if (!accept()) return false;
    open_.emplace_back();
    open_.back().tag = t;
    return true;
  }
  bool close() {
    if (!accept()) return false;
    oracle::Value v = std::move(open_.back());
    open_.pop_back();
    place(std::move(v));
    return true;
  }
};

void compare(const oracle::Value& got, const oracle::Value& want, const char* how) {
  expect(got.tag == want.tag, "%s: tag %u where %u was expected", how, got.tag, want.tag);
  if (got.tag == tag::String) {
    if (got.text != want.text)
      fuzz::fail("%s: string '%s' where '%s' was expected", how, fuzz::printable(got.text).c_str(),
                 fuzz::printable(want.text).c_str());
    return;
  }
  if (got.tag == tag::Array || got.tag == tag::Object) {
    expect(got.children.size() == want.children.size(), "%s: container of %zu where %zu were expected", how,
           got.children.size(), want.children.size());
    for (size_t i = 0; i < got.children.size(); ++i) compare(got.children[i], want.children[i], how);
    return;
  }
  expect(got.payload == want.payload, "%s: value %016llx where %016llx was expected", how,
         static_cast<unsigned long long>(got.payload), static_cast<unsigned long long>(want.payload));
}

void judge(bool read, const TreeBuilder& builder, const DecodeError& error, const uint8_t* data, size_t size, bool ok,
           const oracle::Value& root, const oracle::Failure& failure, const char* how) {
  if (!read) {
    expect(error.position <= size, "%s: failure position %zu past the end (%zu)", how, error.position, size);
    expect(error.position == size || (data[error.position] & 0xC0) != 0x80 || !oracle::utf8_valid(data, size),
           "%s: failure position %zu inside a character", how, error.position);
    expect(!ok, "%s: rejected (%s at %zu) what the reference reads", how, error.message, error.position);
    expect(error.code == failure.code && std::strcmp(error.message, failure.message) == 0 &&
               error.position == failure.position,
           "%s: failure %u '%s' at %zu where %u '%s' at %zu was expected", how, static_cast<unsigned>(error.code),
           error.message, error.position, static_cast<unsigned>(failure.code), failure.message, failure.position);
    return;
  }
  expect(ok, "%s: accepted what the reference rejects (%s at %zu)", how, failure.message, failure.position);
  expect(error.code == static_cast<ReadErrorCode>(99), "%s: failure record touched on success", how);
  compare(builder.root, root, how);
}

void* heap_reallocate(void* block, size_t size) { return std::realloc(block, size); }
void heap_release(void* block) { std::free(block); }
constexpr TextBuffer::Memory HeapMemory{heap_reallocate, heap_release};
// Never more than the buffer's inline room.
constexpr TextBuffer::Memory NoMemory{[](void*, size_t) -> void* { return nullptr; }, heap_release};

bool read_at(const uint8_t* text, size_t size, const uint8_t* limit, TreeBuilder& builder, DecodeError& error,
             TextBuffer::Memory memory = HeapMemory) {
  error = {static_cast<ReadErrorCode>(99), "untouched", 12345};
  const ReaderInput input{text, text + size, limit, &error};
  TextBuffer buffer(memory);
  return read_json(input, builder, buffer);
}

}  // namespace
}  // namespace vellum

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vellum;
  oracle::JsonReader reference(data, size);
  oracle::Value root;
  const bool ok = reference.read_document(root);

  // The text and its zero byte in a block of exactly that size.
  std::vector<uint8_t> text(data, data + size);
  text.push_back(0);
  const fuzz::ExactBlock exact(text.data(), text.size());
  {
    TreeBuilder builder;
    DecodeError error;
    const bool read = read_at(exact.data(), size, exact.data() + size + 1, builder, error);
    judge(read, builder, error, data, size, ok, root, reference.failure, "exact block");
  }
  if (uint8_t* last = fuzz::at_page_end(text.data(), text.size())) {
    TreeBuilder builder;
    DecodeError error;
    const bool read = read_at(last, size, last + size + 1, builder, error);
    judge(read, builder, error, data, size, ok, root, reference.failure, "page end");
  }
  {
    // Stops, digits, escapes and high bytes after the zero byte.
    std::vector<uint8_t> junked = text;
    static const char Junk[] = "\"1\\e]}u0041\xE9 ";
    for (size_t i = 0; i < 80; ++i) junked.push_back(static_cast<uint8_t>(Junk[(i + size) % (sizeof Junk - 1)]));
    const fuzz::ExactBlock block(junked.data(), junked.size());
    TreeBuilder builder;
    DecodeError error;
    const bool read = read_at(block.data(), size, block.data() + block.size(), builder, error);
    judge(read, builder, error, data, size, ok, root, reference.failure, "junk after the end");
  }
  size_t events = 0;
  {
    TreeBuilder builder;
    DecodeError error;
    const bool read = read_at(exact.data(), size, exact.data() + size + 1, builder, error, NoMemory);
    events = builder.events;
    if (!read && error.code == ReadErrorCode::OutOfMemory) {
      expect(std::strcmp(error.message, "memory allocation failed") == 0 && error.position < size &&
                 data[error.position] == '"',
             "no memory: '%s' at %zu", error.message, error.position);
    } else {
      judge(read, builder, error, data, size, ok, root, reference.failure, "no memory");
    }
  }
  if (events != 0) {
    // Refuse one value, chosen by the input: the reader stops right there.
    const size_t refuse = 1 + (size * 7919 + (size != 0 ? data[size / 2] : 0)) % events;
    TreeBuilder builder(refuse);
    DecodeError error;
    const bool read = read_at(exact.data(), size, exact.data() + size + 1, builder, error);
    expect(!read && error.code == ReadErrorCode::Stopped && builder.events == refuse && error.position < size,
           "refusing value %zu of %zu: read %d, code %u at %zu after %zu values", refuse, events, read,
           static_cast<unsigned>(error.code), error.position, builder.events);
    const uint8_t first = data[error.position];
    expect(first == '"' || first == '-' || (first >= '0' && first <= '9') || first == 't' || first == 'f' ||
               first == 'n' || first == '[' || first == '{' || first == ']' || first == '}',
           "refusing value %zu: stopped at the byte %02X", refuse, first);
  }
  return 0;
}
