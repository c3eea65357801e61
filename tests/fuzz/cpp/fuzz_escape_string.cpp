// Every form of the string escaper (the portable one, the AVX-512 variant's
// SIMDe build, and the variant itself where the processor runs it) on the
// same bytes, placed in an exactly sized block and at the end of a page
// before an inaccessible one, writing into a block of exactly the
// reservation: all must give the reference's text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "kernels/escape/escape.hpp"
#include "tests/cpp/variants.hpp"
#include "tests/fuzz/cpp/fuzz_support.hpp"

namespace vellum {
namespace {

// '"', the bytes with '"', '\\' and the control characters escaped, '"'.
std::string reference_escape(const uint8_t* p, size_t n) {
  std::string out = "\"";
  for (size_t i = 0; i < n; ++i) {
    const uint8_t c = p[i];
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += "0123456789abcdef"[c >> 4];
          out += "0123456789abcdef"[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

const std::vector<test::Form<EscapeFn>>& forms() {
  static const auto all = fuzz::announce(
      "escape_string", test::forms<EscapeFn>(&portable::escape_string, {{"avx512", cpu::Avx512Vl, &avx512::escape_string,
                                                                          &avx512_simde::escape_string}}));
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
  const std::string want = reference_escape(data, size);
  const fuzz::ExactBlock exact(data, size);
  for (const auto& form : forms()) check(form, exact.data(), size, want, "exact block");
  if (const uint8_t* last = fuzz::at_page_end(data, size))
    for (const auto& form : forms()) check(form, last, size, want, "page end");
  return 0;
}
