// The UTF-8 kernels against the bit-by-bit reference, every form of each
// (the portable one, each variant's SIMDe build, and each variant where the
// processor runs it) on the same bytes, placed in an exactly sized block and
// at the end of a page before an inaccessible one:
//  - validate_utf8 and valid_utf8_prefix on any bytes;
//  - count_utf8_chars on any bytes (it counts the bytes that do not continue
//    a character);
//  - utf8_shape on valid text, and every decoder (with its plain twin,
//    one character at a time) into exactly sized output.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "kernels/utf8/utf8_decode.hpp"
#include "kernels/utf8/utf8_routines.hpp"
#include "tests/cpp/forms.hpp"
#include "tests/fuzz/cpp/fuzz_support.hpp"
#include "tests/oracle/text.hpp"

namespace vellum {
namespace {

using ValidateFn = bool (*)(const uint8_t*, size_t);
using CountFn = size_t (*)(const uint8_t*, size_t);
using ShapeFn = Utf8Shape (*)(const uint8_t*, size_t);

struct Forms {
  std::vector<test::Form<ValidateFn>> validate =
      fuzz::announce("validate_utf8", test::forms(utf8_forms, &Utf8Routines::validate));
  std::vector<test::Form<CountFn>> count =
      fuzz::announce("count_utf8_chars", test::forms(utf8_forms, &Utf8Routines::count_chars));
  std::vector<test::Form<ShapeFn>> shape = fuzz::announce("utf8_shape", test::forms(utf8_forms, &Utf8Routines::shape));
  std::vector<test::Form<Utf8DecodeFn>> decode = [] {
    auto f = test::forms(utf8_forms, &Utf8Routines::decode);
    f.push_back({"by_char", &utf8_decode_by_char, false});
    return fuzz::announce("utf8_decode", f);
  }();
};

const Forms& forms() {
  static const Forms all;
  return all;
}

struct Expected {
  size_t prefix;
  bool valid;
  size_t starts;  // bytes that are not 0x80..0xBF
  std::vector<uint32_t> code_points;
  uint32_t max_char;
};

void check_decode(const test::Form<Utf8DecodeFn>& f, const uint8_t* p, size_t n, const Expected& want, unsigned kind,
                  const char* where) {
  const size_t chars = want.code_points.size();
  fuzz::ExactBlock out(chars * kind);
  f.routine(p, n, out.data(), kind);
  for (size_t i = 0; i < chars; ++i) {
    uint32_t unit = 0;
    std::memcpy(&unit, out.data() + i * kind, kind);
    fuzz::expect(unit == want.code_points[i], "utf8_decode %s (%s) kind %u: unit %zu is %x where %x was expected",
                 f.name.c_str(), where, kind, i, unit, want.code_points[i]);
  }
}

void check(const uint8_t* p, size_t n, const Expected& want, const char* where) {
  const Forms& all = forms();
  const size_t prefix = valid_utf8_prefix(p, n);
  fuzz::expect(prefix == want.prefix, "valid_utf8_prefix (%s): %zu where %zu was expected", where, prefix,
               want.prefix);
  for (const auto& f : all.validate)
    fuzz::expect(f.routine(p, n) == want.valid, "validate_utf8 %s (%s): %d where %d was expected", f.name.c_str(),
                 where, !want.valid, want.valid);
  for (const auto& f : all.count) {
    const size_t count = f.routine(p, n);
    fuzz::expect(count == want.starts, "count_utf8_chars %s (%s): %zu where %zu was expected", f.name.c_str(),
                 where, count, want.starts);
  }
  if (!want.valid || n == 0) return;
  for (const auto& f : all.shape) {
    const Utf8Shape shape = f.routine(p, n);
    fuzz::expect(shape.chars == want.code_points.size() && shape.max_char == want.max_char,
                 "utf8_shape %s (%s): %zu chars, max %x where %zu, %x was expected", f.name.c_str(), where,
                 shape.chars, shape.max_char, want.code_points.size(), want.max_char);
  }
  // Each unit width the characters fit.
  for (unsigned kind : {1u, 2u, 4u}) {
    if (want.max_char > (kind == 1 ? 0xFFu : kind == 2 ? 0xFFFFu : 0x10FFFFu)) continue;
    for (const auto& f : all.decode) check_decode(f, p, n, want, kind, where);
  }
}

}  // namespace
}  // namespace vellum

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vellum;
  Expected want;
  want.prefix = oracle::utf8_valid_prefix(data, size);
  want.valid = want.prefix == size;
  want.starts = 0;
  for (size_t i = 0; i < size; ++i) want.starts += (data[i] & 0xC0) != 0x80;
  want.max_char = 0;
  if (want.valid) {
    want.code_points = oracle::utf8_code_points(data, size);
    uint32_t largest = 0;
    for (uint32_t cp : want.code_points) largest = cp > largest ? cp : largest;
    want.max_char = largest < 0x80 ? 0x7F : largest < 0x100 ? 0xFF : largest < 0x10000 ? 0xFFFF : 0x10FFFF;
  }
  const fuzz::ExactBlock exact(data, size);
  check(exact.data(), size, want, "exact block");
  if (const uint8_t* last = fuzz::at_page_end(data, size)) check(last, size, want, "page end");
  return 0;
}
