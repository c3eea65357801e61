// Every form of the float rows (the portable one, the AVX-512 variant's SIMDe
// build, and the variant itself where the processor runs it) against the
// scalar formatter, byte for byte: each value's text followed by the
// separator. The first byte chooses how the rest becomes values: raw bits
// (doubles or singles), decimals of 16 or 17 digits (singles: 8 or 9) read to
// the nearest value, or values at the edges of a binade (subnormals
// included). The values are read from an exactly sized block and from the
// end of a page before an inaccessible one; the text goes into a block of
// exactly the room the routine asks for.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kernels/number/float_row.hpp"
#include "kernels/number/format.hpp"
#include "tests/cpp/forms.hpp"
#include "tests/fuzz/cpp/fuzz_support.hpp"

namespace vellum {
namespace {

const std::vector<test::Form<FloatRowRoutines>>& forms() {
  static const auto all = fuzz::announce("float rows", test::tables(float_row_forms));
  return all;
}

template <class F>
using Bits = std::conditional_t<sizeof(F) == 8, uint64_t, uint32_t>;

// A decimal of 16 or 17 (singles: 8 or 9) significant digits from the word,
// read to the nearest value.
template <class F>
F decimal_value(uint64_t w) {
  const bool single = sizeof(F) == 4;
  const uint64_t span = single ? 900000000u : 90000000000000000u;
  const uint64_t digits = (single ? 10000000u : 1000000000000000u) + w % span;
  const int exponent = static_cast<int>((w >> 58) * 11) - (single ? 360 : 350);  // beyond the range at both ends
  char text[48];
  std::snprintf(text, sizeof text, "%llue%d", static_cast<unsigned long long>(digits), single ? exponent / 8 : exponent);
  return single ? static_cast<F>(std::strtof(text, nullptr)) : static_cast<F>(std::strtod(text, nullptr));
}

// The first values of a binade and the last, a few units in, at an exponent
// the word chooses (zero: subnormals).
template <class F>
F edge_value(uint64_t w) {
  constexpr int M = sizeof(F) == 8 ? 52 : 23;
  constexpr uint64_t ExponentCount = sizeof(F) == 8 ? 2047 : 255;
  const uint64_t exponent = (w >> 8) % ExponentCount;
  const uint64_t offset = w & 0xF;
  const uint64_t fraction = (w & 0x10) ? offset : ((uint64_t{1} << M) - 1 - offset);
  return std::bit_cast<F>(static_cast<Bits<F>>((w >> 63) << (sizeof(F) * 8 - 1) | exponent << M | fraction));
}

template <class F>
std::vector<F> values(const uint8_t* data, size_t size, int mode) {
  std::vector<F> out;
  if (mode == 0) {
    out.resize(size / sizeof(F));
    if (!out.empty()) std::memcpy(out.data(), data, out.size() * sizeof(F));
    return out;
  }
  for (size_t i = 0; i + 8 <= size; i += 8) {
    uint64_t w;
    std::memcpy(&w, data + i, 8);
    out.push_back(mode == 1 ? decimal_value<F>(w) : edge_value<F>(w));
  }
  return out;
}

template <class F>
void check(const std::vector<F>& vals, const char* separator_text) {
  const Separator separator{reinterpret_cast<const uint8_t*>(separator_text), std::strlen(separator_text)};
  std::string want;
  for (F v : vals) {
    uint8_t buf[64];
    const uint8_t* end = sizeof(F) == 8 ? format_f64(buf, static_cast<double>(v)) : format_f32(buf, static_cast<float>(v));
    want.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(end - buf));
    want += separator_text;
  }
  const size_t bytes = vals.size() * sizeof(F);
  const fuzz::ExactBlock exact(reinterpret_cast<const uint8_t*>(vals.data()), bytes);
  const size_t room = vals.size() * ((sizeof(F) == 8 ? MaxF64Text : MaxF32Text) + separator.size) + FloatOverhang;
  for (const auto& form : forms()) {
    const FloatRowFn row = sizeof(F) == 8 ? form.routine.f64_row : form.routine.f32_row;
    for (int placed = 0; placed < 2; ++placed) {
      const uint8_t* src = placed == 0 ? exact.data() : fuzz::at_page_end(exact.data(), bytes);
      if (src == nullptr) continue;
      fuzz::ExactBlock dst(room);
      const uint8_t* end = row(dst.data(), src, vals.size(), separator);
      const std::string got(reinterpret_cast<const char*>(dst.data()), static_cast<size_t>(end - dst.data()));
      if (got != want)
        fuzz::fail("%s (%s, %zu %s): wrote %s where the scalar formatter writes %s", form.name.c_str(),
                   placed == 0 ? "exact block" : "page end", vals.size(), sizeof(F) == 8 ? "doubles" : "singles",
                   fuzz::printable(got).c_str(), fuzz::printable(want).c_str());
    }
  }
}

}  // namespace
}  // namespace vellum

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vellum;
  if (size == 0) return 0;
  const int mode = data[0] % 3;
  const char* separator = (data[0] & 4) ? ",\n  " : ",";
  check(values<double>(data + 1, size - 1, mode), separator);
  check(values<float>(data + 1, size - 1, mode), separator);
  return 0;
}
