// What every fuzz target shares: failing with a readable report (libFuzzer
// keeps the input that made it), and buffers whose ends the sanitizer or the
// processor guards.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/cpp/guard_pages.hpp"
#include "tests/cpp/forms.hpp"

namespace vellum::fuzz {

[[noreturn]] inline void report_and_abort(const char* format, std::va_list args) {
  std::fputs("\n*** fuzz check failed: ", stderr);
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
  std::abort();
}

// Reports and aborts.
[[noreturn, gnu::format(printf, 1, 2)]] inline void fail(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  report_and_abort(format, args);
}

// Reports and aborts when `ok` is false. The arguments are evaluated either
// way: costly ones belong behind an `if` and fail().
[[gnu::format(printf, 2, 3)]] inline void expect(bool ok, const char* format, ...) {
  if (ok) [[likely]]
    return;
  std::va_list args;
  va_start(args, format);
  report_and_abort(format, args);
}

// Bytes as C-like text, for reports.
inline std::string printable(const uint8_t* p, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    if (p[i] >= 0x20 && p[i] < 0x7F && p[i] != '\\') {
      out += static_cast<char>(p[i]);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", p[i]);
      out += hex;
    }
  }
  return out;
}
inline std::string printable(const std::string& s) {
  return printable(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

// Names the forms a differential target compares, once, in its log.
template <class Fn>
const std::vector<test::Form<Fn>>& announce(const char* routine, const std::vector<test::Form<Fn>>& forms) {
  std::string names;
  for (const auto& f : forms) names += (names.empty() ? "" : ", ") + f.name;
  std::fprintf(stderr, "forms of %s: %s\n", routine, names.c_str());
  return forms;
}

// A heap block of exactly n bytes, so that the address sanitizer reports any
// access past either end.
class ExactBlock {
 public:
  explicit ExactBlock(size_t n) : data_(new uint8_t[n]), size_(n) {}
  ExactBlock(const uint8_t* p, size_t n) : ExactBlock(n) {
    if (n != 0) std::memcpy(data_.get(), p, n);
  }
  uint8_t* data() const { return data_.get(); }
  size_t size() const { return size_; }

 private:
  std::unique_ptr<uint8_t[]> data_;
  size_t size_;
};

// The n bytes copied to the very end of a page whose successor is
// inaccessible: a read past them faults even where the sanitizer does not
// look (native masked loads). The page is made once and reused; inputs
// longer than a page are not placed (null).
inline uint8_t* at_page_end(const uint8_t* p, size_t n) {
  static test::GuardedPage page;
  if (!page.ok() || n > page.size()) return nullptr;
  uint8_t* dst = page.last(n);
  if (n != 0) std::memmove(dst, p, n);
  return dst;
}

}  // namespace vellum::fuzz
