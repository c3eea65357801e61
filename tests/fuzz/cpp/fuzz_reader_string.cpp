// Every set of the reader's string routines (the portable one, each
// variant's SIMDe build, and each variant where the processor runs it) on
// the same string token: the input is the text after the opening quotation
// mark, in a copy that ends with exactly the zero tail (in an exactly sized
// block, and at the end of a page before an inaccessible one).
//  - find_stop, from every stop to the next, must find what a byte loop finds;
//  - read_string_using must give the reference's text and end, or its
//    failure and position.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "reader/document.hpp"
#include "reader/string.hpp"
#include "tests/cpp/forms.hpp"
#include "tests/fuzz/cpp/fuzz_support.hpp"
#include "tests/oracle/json.hpp"

namespace vellum {
namespace {

const std::vector<test::Form<StringRoutines>>& forms() {
  static const auto all = fuzz::announce("string_routines", test::tables(string_forms));
  return all;
}

bool is_stop(uint8_t c) { return c < 0x20 || c == '"' || c == '\\'; }

// '"', the input, the zero tail: `size` bytes in all.
void lay_token(uint8_t* at, const uint8_t* data, size_t n) {
  at[0] = '"';
  if (n != 0) std::memcpy(at + 1, data, n);
  std::memset(at + 1 + n, 0, ZeroTail);
}

void check_scan(const test::Form<StringRoutines>& form, uint8_t* copy, size_t size, const char* where) {
  const uint8_t* tail_end = copy + size;
  // From the text's start to the first stop and from each stop to the next;
  // from three later starts to the first stop (other alignments).
  for (size_t first = 1; first <= 4 && first < size; ++first) {
    size_t want = first;
    for (uint8_t* p = copy + first;;) {
      while (!is_stop(copy[want])) ++want;
      uint8_t* stop = form.routine.find_stop(p, tail_end);
      if (stop != copy + want)
        fuzz::fail("%s (%s): find_stop from %td gave %td where %zu was expected", form.name.c_str(), where,
                   p - copy, stop - copy, want);
      if (first > 1 || want + ZeroTail >= size) break;  // on the zero tail
      p = stop + 1;
      want = want + 1;
    }
  }
}

void check_read(const test::Form<StringRoutines>& form, uint8_t* copy, size_t n, bool ok, size_t end,
                const oracle::Value& want, const oracle::Failure& failure, const char* where) {
  DecodeError error{static_cast<ReadErrorCode>(99), "untouched", 12345};
  const InputCopy input{copy, copy + 1 + n, copy + 1 + n + ZeroTail, &error};
  JsonValue out{0, {0}};
  const uint8_t* next = read_string_using(form.routine, copy, out, input);
  const char* name = form.name.c_str();
  if (!ok) {
    if (next != nullptr || error.code != ReadErrorCode::InvalidString ||
        std::strcmp(error.message, failure.message) != 0 || error.position != failure.position)
      fuzz::fail("%s (%s): %s '%s' at %zu where '%s' at %zu was expected", name, where,
                 next != nullptr ? "read" : "failed", next != nullptr ? "" : error.message, error.position,
                 failure.message, failure.position);
    return;
  }
  if (next == nullptr) fuzz::fail("%s (%s): failed '%s' at %zu", name, where, error.message, error.position);
  fuzz::expect(error.code == static_cast<ReadErrorCode>(99), "%s (%s): failure record touched", name, where);
  if (static_cast<size_t>(next - copy) != end || out.type_code() != tag::String || out.text != copy + 1 ||
      out.length() != want.text.size() || std::memcmp(out.text, want.text.data(), want.text.size()) != 0)
    fuzz::fail("%s (%s): tag %llx '%s' ending at %td where '%s' ending at %zu was expected", name, where,
               static_cast<unsigned long long>(out.tag), fuzz::printable(out.text, out.length()).c_str(),
               next - copy, fuzz::printable(want.text).c_str(), end);
}

}  // namespace
}  // namespace vellum

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t n) {
  using namespace vellum;
  const size_t size = 1 + n + ZeroTail;
  fuzz::ExactBlock token(size);
  lay_token(token.data(), data, n);
  oracle::JsonReader reference(token.data(), 1 + n);
  size_t end = 0;
  oracle::Value want;
  const bool ok = reference.string(end, want);

  std::vector<uint8_t> page_copy(token.data(), token.data() + size);
  for (const auto& form : forms()) {
    // A fresh copy each time: unescaping writes over it.
    fuzz::ExactBlock exact(token.data(), size);
    check_scan(form, exact.data(), size, "exact block");
    check_read(form, exact.data(), n, ok, end, want, reference.failure, "exact block");
    if (uint8_t* last = fuzz::at_page_end(page_copy.data(), size)) {
      check_scan(form, last, size, "page end");
      check_read(form, last, n, ok, end, want, reference.failure, "page end");
    }
  }
  return 0;
}
