// Every form of the string escaper (the portable one, the AVX-512 variant's
// SIMDe build, and the variant itself where the processor runs it) on the
// same bytes, placed in an exactly sized block and at the end of a page
// before an inaccessible one, writing into a block of exactly the
// reservation: all must give the text oracle's escaping.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "kernels/escape/escape.hpp"
#include "tests/cpp/forms.hpp"
#include "tests/fuzz/cpp/fuzz_support.hpp"
#include "tests/oracle/text.hpp"

namespace vellum {
namespace {

const std::vector<test::Form<EscapeFn>>& forms() {
  static const auto all = fuzz::announce("escape_string", test::forms(escape_forms, &EscapeRoutines::escape_string));
  return all;
}

void check(const test::Form<EscapeFn>& form, const uint8_t* src, size_t n, const std::string& want,
           const char* where) {
  fuzz::ExactBlock dst(escape_reservation(n));
  const size_t written = form.routine(dst.data(), src, n);
  if (written != want.size() || std::memcmp(dst.data(), want.data(), written) != 0)
    fuzz::fail("%s (%s): '%s' where '%s' was expected", form.name.c_str(), where,
               fuzz::printable(dst.data(), written <= dst.size() ? written : 0).c_str(),
               fuzz::printable(want).c_str());
}

}  // namespace
}  // namespace vellum

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vellum;
  const std::string want = oracle::escape_json(data, size);
  const fuzz::ExactBlock exact(data, size);
  for (const auto& form : forms()) check(form, exact.data(), size, want, "exact block");
  if (const uint8_t* last = fuzz::at_page_end(data, size))
    for (const auto& form : forms()) check(form, last, size, want, "page end");
  return 0;
}
