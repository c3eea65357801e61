// Every form of the half-precision widening (the portable one, the F16C
// variant's SIMDe build, and the variant itself where the processor runs it)
// on the input's bytes taken as halves, read from an exactly sized block and
// from the end of a page before an inaccessible one, at an odd address too,
// writing into a block of exactly the floats' size: every float must have
// the oracle's bits.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kernels/number/half.hpp"
#include "tests/cpp/forms.hpp"
#include "tests/fuzz/cpp/fuzz_support.hpp"
#include "tests/oracle/half.hpp"

namespace vellum {
namespace {

const std::vector<test::Form<HalfToFloatFn>>& forms() {
  static const auto all = fuzz::announce("half_to_float", test::forms(half_forms, &HalfRoutines::half_to_float));
  return all;
}

void check(const test::Form<HalfToFloatFn>& form, const uint8_t* src, size_t n, const char* where) {
  fuzz::ExactBlock dst(n * sizeof(float));
  form.routine(src, n, reinterpret_cast<float*>(dst.data()));
  for (size_t i = 0; i < n; ++i) {
    uint16_t half;
    uint32_t got;
    std::memcpy(&half, src + 2 * i, 2);
    std::memcpy(&got, dst.data() + i * sizeof(float), sizeof got);
    const uint32_t want = oracle::half_to_float_bits(half);
    if (got != want)
      fuzz::fail("%s (%s): half %zu of %zu, 0x%04x, widened to 0x%08x where 0x%08x was expected", form.name.c_str(),
                 where, i, n, half, got, want);
  }
}

}  // namespace
}  // namespace vellum

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vellum;
  const size_t n = size / 2;
  // All the bytes, so that an odd count leaves one byte no form may take.
  const fuzz::ExactBlock exact(data, size);
  for (const auto& form : forms()) check(form, exact.data(), n, "exact block");
  if (size >= 1) {
    const fuzz::ExactBlock odd(data + 1, size - 1);
    for (const auto& form : forms()) check(form, odd.data(), (size - 1) / 2, "shifted by a byte");
  }
  if (const uint8_t* last = fuzz::at_page_end(data, 2 * n))
    for (const auto& form : forms()) check(form, last, n, "page end");
  return 0;
}
