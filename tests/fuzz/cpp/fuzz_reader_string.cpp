// Every set of the reader's string routines (the portable one, each
// variant's SIMDe build, and each variant where the processor runs it) on
// the same string token: the input is the text after the opening quotation
// mark, followed by the text's zero byte (in an exactly sized block, at the
// end of a page before an inaccessible one, and followed by bytes that may
// be read but are not text, as when the caller's bytes are read in place).
//  - find_stop, from every stop to the next, must find what a byte loop finds,
//    and tell whether a byte above 0x7F lies before it;
//  - read_string_using must give the reference's text and end, or its
//    failure and position; a text handed on as ASCII holds no byte above
//    0x7F, and one without escapes or such bytes is handed on as ASCII.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "reader/reader.hpp"
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

// Bytes after the zero byte that a scan may read: stops and high bytes.
constexpr size_t Junk = 80;

// '"', the input, the zero byte, then `junk` bytes that are not text.
void lay_token(uint8_t* at, const uint8_t* data, size_t n, size_t junk) {
  at[0] = '"';
  if (n != 0) std::memcpy(at + 1, data, n);
  at[1 + n] = 0;
  for (size_t i = 0; i < junk; ++i) at[2 + n + i] = i % 3 == 0 ? '"' : 0xE9;
}

struct Where {
  const char* name;
  uint8_t* copy;  // the opening quotation mark
  size_t n;       // bytes of text after it
  const uint8_t* limit;
};

void check_scan(const test::Form<StringRoutines>& form, const Where& w) {
  const uint8_t* copy = w.copy;
  // From the text's start to the first stop and from each stop to the next;
  // from three later starts to the first stop (other alignments).
  for (size_t first = 1; first <= 4 && first <= 1 + w.n; ++first) {
    size_t want = first;
    for (const uint8_t* p = copy + first;;) {
      bool want_high = false;
      for (; !is_stop(copy[want]); ++want) want_high |= copy[want] >= 0x80;
      bool high = false;
      const uint8_t* stop = form.routine.find_stop(p, w.limit, high);
      if (stop != copy + want || high != want_high)
        fuzz::fail("%s (%s): find_stop from %td gave %td (high %d) where %zu (high %d) was expected",
                   form.name.c_str(), w.name, p - copy, stop - copy, high, want, want_high);
      if (first > 1 || want == 1 + w.n) break;  // on the zero byte
      p = stop + 1;
      want = want + 1;
    }
  }
}

void check_read(const test::Form<StringRoutines>& form, const Where& w, bool ok, size_t end,
                const oracle::Value& want, const oracle::Failure& failure) {
  DecodeError error{static_cast<ReadErrorCode>(99), "untouched", 12345};
  const ReaderInput input{w.copy, w.copy + 1 + w.n, w.limit, &error};
  TextBuffer buffer({[](void* b, size_t size) { return std::realloc(b, size); }, [](void* b) { std::free(b); }});
  StringToken out{};
  const uint8_t* next = read_string_using(form.routine, w.copy, out, buffer, input);
  const char* name = form.name.c_str();
  if (!ok) {
    if (next != nullptr || error.code != ReadErrorCode::InvalidString ||
        std::strcmp(error.message, failure.message) != 0 || error.position != failure.position)
      fuzz::fail("%s (%s): %s '%s' at %zu where '%s' at %zu was expected", name, w.name,
                 next != nullptr ? "read" : "failed", next != nullptr ? "" : error.message, error.position,
                 failure.message, failure.position);
    return;
  }
  if (next == nullptr) fuzz::fail("%s (%s): failed '%s' at %zu", name, w.name, error.message, error.position);
  fuzz::expect(error.code == static_cast<ReadErrorCode>(99), "%s (%s): failure record touched", name, w.name);
  if (static_cast<size_t>(next - w.copy) != end || out.length != want.text.size() ||
      std::memcmp(out.text, want.text.data(), want.text.size()) != 0)
    fuzz::fail("%s (%s): '%s' ending at %td where '%s' ending at %zu was expected", name, w.name,
               fuzz::printable(out.text, out.length).c_str(), next - w.copy, fuzz::printable(want.text).c_str(), end);
  const bool escaped = std::memchr(w.copy + 1, '\\', end - 2) != nullptr;
  bool high = false;
  for (uint8_t c : want.text) high |= c >= 0x80;
  fuzz::expect(out.ascii == !high, "%s (%s): ascii %d for a text %s escapes, %s high bytes", name, w.name,
               out.ascii, escaped ? "with" : "without", high ? "with" : "without");
  if (!escaped) fuzz::expect(out.text == w.copy + 1, "%s (%s): text without escapes not in place", name, w.name);
}

}  // namespace
}  // namespace vellum

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t n) {
  using namespace vellum;
  const size_t size = n + 2;
  fuzz::ExactBlock token(size + Junk);
  lay_token(token.data(), data, n, Junk);
  oracle::JsonReader reference(token.data(), 1 + n);
  size_t end = 0;
  oracle::Value want;
  const bool ok = reference.string(end, want);

  for (const auto& form : forms()) {
    fuzz::ExactBlock exact(token.data(), size);
    const Where in_block{"exact block", exact.data(), n, exact.data() + size};
    check_scan(form, in_block);
    check_read(form, in_block, ok, end, want, reference.failure);
    const Where padded{"junk after the end", token.data(), n, token.data() + size + Junk};
    check_scan(form, padded);
    check_read(form, padded, ok, end, want, reference.failure);
    if (uint8_t* last = fuzz::at_page_end(token.data(), size)) {
      const Where at_end{"page end", last, n, last + size};
      check_scan(form, at_end);
      check_read(form, at_end, ok, end, want, reference.failure);
    }
  }
  return 0;
}
