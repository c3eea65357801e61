// The number writers of dumps. Floats (double and single, from raw bits, from
// short decimals, where the shortest text is short, from 16- and 17-digit
// decimals, at the edges of every binade, subnormals, powers of two, and
// values of few significant bits whose scaled products are exact): the text is one
// JSON number with a point or an exponent, within the longest-text bound,
// reads back to the same value through strtod/strtof, and has exactly the
// digits of std::to_chars' shortest form (the same count, and the nearest
// of them); stores stay within the overhang the writers declare.
// Integers: format_u32, format_u64 and format_i64 against std::to_chars,
// each into a block of exactly the text's size.
#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>

#include "kernels/number/format.hpp"
#include "tests/fuzz/cpp/fuzz_support.hpp"
#include "tests/oracle/json.hpp"

namespace vellum {
namespace {

using fuzz::expect;

// A decimal text's significant digits (no leading or trailing zeros) and the
// power of ten of the first of them.
struct Digits {
  std::string digits;
  int exponent = 0;
  bool operator==(const Digits&) const = default;
};

Digits significant(const std::string& text) {
  Digits out;
  int point = -1;  // digits before the point
  size_t i = text[0] == '-';
  int seen = 0;
  int leading = 0;
  for (; i < text.size() && text[i] != 'e' && text[i] != 'E'; ++i) {
    if (text[i] == '.') {
      point = seen;
      continue;
    }
    ++seen;
    if (out.digits.empty() && text[i] == '0') {
      ++leading;
      continue;
    }
    out.digits += text[i];
  }
  if (point < 0) point = seen;
  const int e = i < text.size() ? std::atoi(text.c_str() + i + 1) : 0;
  out.exponent = point - leading - 1 + e;
  while (!out.digits.empty() && out.digits.back() == '0') out.digits.pop_back();
  if (out.digits.empty()) out.exponent = 0;  // zero
  return out;
}

template <class Float>
void check_float(Float v) {
  constexpr bool Double = sizeof(Float) == 8;
  auto format = [](uint8_t* dst, Float x) {
    if constexpr (Double)
      return format_f64(dst, x);
    else
      return format_f32(dst, x);
  };
  const char* name = Double ? "format_f64" : "format_f32";
  uint8_t wide[64];
  const size_t length = static_cast<size_t>(format(wide, v) - wide);
  const std::string text(reinterpret_cast<const char*>(wide), length);
  // Again into exactly the text and the declared overhang.
  fuzz::ExactBlock exact(length + FloatOverhang);
  const size_t again = static_cast<size_t>(format(exact.data(), v) - exact.data());
  expect(again == length && std::memcmp(exact.data(), wide, length) == 0, "%s: two calls differ", name);

  uint64_t bits = 0;
  std::memcpy(&bits, &v, sizeof v);
  if (!std::isfinite(v)) {
    expect(text == "null", "%s(%llx): '%s' for a non-finite value", name, static_cast<unsigned long long>(bits),
           text.c_str());
    return;
  }
  expect(length <= (Double ? MaxF64Text : MaxF32Text), "%s(%.17g): '%s' is longer than the bound", name,
         static_cast<double>(v), text.c_str());
  oracle::JsonReader grammar(wide, length);
  size_t end = 0;
  oracle::Value value;
  expect(grammar.number(end, value) && end == length && value.tag == tag::Real,
         "%s(%.17g): '%s' is not one JSON real", name, static_cast<double>(v), text.c_str());

  Float back;
  if constexpr (Double)
    back = std::strtod(text.c_str(), nullptr);
  else
    back = std::strtof(text.c_str(), nullptr);
  expect(std::memcmp(&back, &v, sizeof v) == 0, "%s(%.17g): '%s' reads back as %.17g", name,
         static_cast<double>(v), text.c_str(), static_cast<double>(back));

  char shortest[64];
  const auto result = std::to_chars(shortest, shortest + sizeof shortest, v, std::chars_format::scientific);
  const std::string reference(shortest, result.ptr);
  const Digits mine = significant(text), theirs = significant(reference);
  if (!(mine == theirs))
    fuzz::fail("%s(%.17g): '%s' (digits %s e%d) where to_chars gives '%s' (digits %s e%d)", name,
               static_cast<double>(v), text.c_str(), mine.digits.c_str(), mine.exponent, reference.c_str(),
               theirs.digits.c_str(), theirs.exponent);
}

template <class Int>
void check_integer(Int v, const char* name) {
  char want[32];
  const size_t n = static_cast<size_t>(std::to_chars(want, want + sizeof want, v).ptr - want);
  fuzz::ExactBlock out(n);
  size_t written;
  if constexpr (std::is_same_v<Int, int64_t>)
    written = static_cast<size_t>(format_i64(out.data(), v) - out.data());
  else if constexpr (std::is_same_v<Int, uint64_t>)
    written = format_u64(v, out.data());
  else
    written = format_u32(v, out.data());
  expect(written == n && std::memcmp(out.data(), want, n) == 0, "%s(%s): '%s'", name, std::string(want, n).c_str(),
         fuzz::printable(out.data(), written <= n ? written : n).c_str());
}

// A short decimal from the recipe bytes: up to 17 (or 9) digits and an
// exponent around the type's range.
std::string short_decimal(const uint8_t* p, size_t n, bool wide) {
  uint64_t s = 0;
  std::memcpy(&s, p, n < 8 ? n : 8);
  const unsigned digits = 1 + (n > 8 ? p[8] : 0) % (wide ? 17 : 9);
  uint64_t limit = 1;
  for (unsigned i = 0; i < digits; ++i) limit *= 10;
  const int span = wide ? 680 : 100;
  const int e = (n > 9 ? p[9] | p[n > 10 ? 10 : 9] << 8 : 0) % span - span / 2;
  return std::to_string(s % limit) + "e" + std::to_string(e);
}

// A value at the edge of a binade (its first values, its last values, the
// middle), or a power of two, from a recipe word: the exponent field from
// the top bits, the fraction's distance from the edge from the low ones.
template <class Bits, int FractionBits>
Bits binade_edge(uint64_t word) {
  constexpr int ExponentBits = static_cast<int>(sizeof(Bits)) * 8 - 1 - FractionBits;
  const Bits exponent = static_cast<Bits>((word >> 40) & ((uint64_t{1} << ExponentBits) - 1));
  const Bits max_fraction = static_cast<Bits>((uint64_t{1} << FractionBits) - 1);
  const Bits delta = static_cast<Bits>(word & 0xF);
  Bits fraction;
  switch ((word >> 4) & 3) {
    case 0: fraction = delta; break;                                                 // first values, 2^e
    case 1: fraction = max_fraction - delta; break;                                  // last values
    case 2: fraction = static_cast<Bits>((Bits{1} << (FractionBits - 1)) + delta - 8); break;  // middle
    default: fraction = static_cast<Bits>((word >> 8) & max_fraction); break;  // any, subnormal for exponent 0
  }
  const Bits sign = static_cast<Bits>((word >> 63) & 1) << (sizeof(Bits) * 8 - 1);
  return sign | static_cast<Bits>(exponent << FractionBits) | (fraction & max_fraction);
}

// A decimal of exactly 16 or 17 significant digits (the longest shortest
// forms) at an exponent from the recipe.
std::string long_decimal(const uint8_t* p, size_t n) {
  uint64_t s = 0;
  std::memcpy(&s, p, n < 8 ? n : 8);
  const bool seventeen = n > 8 && (p[8] & 1);
  const uint64_t low = seventeen ? 10000000000000000u : 1000000000000000u;
  const uint64_t digits = low + s % (9 * low);
  const int e = (n > 9 ? p[9] | p[n > 10 ? 10 : 9] << 8 : 0) % 660 - 340;
  return std::to_string(digits) + "e" + std::to_string(e);
}

}  // namespace
}  // namespace vellum

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vellum;
  if (size == 0) return 0;
  const uint8_t mode = data[0] & 7;
  const uint8_t* p = data + 1;
  const size_t n = size - 1;
  uint64_t word = 0;
  std::memcpy(&word, p, n < 8 ? n : 8);

  switch (mode) {
    case 0:
      check_float(std::bit_cast<double>(word));
      break;
    case 1:
      check_float(std::strtod(short_decimal(p, n, true).c_str(), nullptr));
      break;
    case 2:
      check_float(std::bit_cast<float>(static_cast<uint32_t>(word)));
      break;
    case 3:
      check_float(std::strtof(short_decimal(p, n, false).c_str(), nullptr));
      break;
    case 4:
      check_float(std::bit_cast<double>(binade_edge<uint64_t, 52>(word)));
      break;
    case 5:
      check_float(std::bit_cast<float>(binade_edge<uint32_t, 23>(word)));
      break;
    case 6:
      check_float(std::strtod(long_decimal(p, n).c_str(), nullptr));
      break;
    case 7:
      // Few significant bits near 1: products exact or nearly so, ties.
      check_float(std::ldexp(static_cast<double>(word >> (word & 63) | 1), static_cast<int>(word >> 58) - 40));
      check_float(std::ldexp(static_cast<float>(static_cast<uint32_t>(word >> 40) >> (word & 15) | 1),
                             static_cast<int>(word >> 58) - 40));
      break;
  }
  check_integer(word, "format_u64");
  check_integer(static_cast<int64_t>(word), "format_i64");
  check_integer(static_cast<uint32_t>(word), "format_u32");
  return 0;
}
