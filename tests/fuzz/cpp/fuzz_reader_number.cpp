// The reader's number tokens against strtod and std::from_chars, through
// both of its paths (the inline reader and the general one it falls back
// to): the same value and tag, the same end of token, or the same failure
// message at the same position.
//
// An input that starts with '-' or a digit is the token text itself. Any
// other input is a recipe for the hard cases that random text seldom hits:
// decimal texts at, just above and just below the midpoint between two
// neighbouring doubles (hundreds of digits), cut or padded with zeros and
// written with the point anywhere and any exponent.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "reader/number.hpp"
#include "tests/fuzz/cpp/fuzz_support.hpp"
#include "tests/oracle/json.hpp"

namespace vellum {
namespace {

using fuzz::expect;

using ReadFn = const uint8_t* (*)(const uint8_t* start, JsonValue& out, const ReaderInput& copy);

const uint8_t* read_inline(const uint8_t* start, JsonValue& out, const ReaderInput& copy) {
  return read_number(start, out, copy);
}

void check_token(const std::string& text) {
  const auto* data = reinterpret_cast<const uint8_t*>(text.data());
  const size_t size = text.size();
  oracle::JsonReader reference(data, size);
  size_t end = 0;
  oracle::Value want;
  const bool ok = reference.number(end, want);

  if (ok && want.tag == tag::Real) {
    // A second reference for reals; it must agree with strtod.
    double value = 0;
    const auto [last, error] = std::from_chars(text.data(), text.data() + end, value);
    if (error == std::errc{})
      expect(std::bit_cast<uint64_t>(value) == want.payload && last == text.data() + end,
             "from_chars and strtod differ on '%s'", fuzz::printable(text).c_str());
  }

  for (const auto& [name, read] : {std::pair<const char*, ReadFn>{"inline", &read_inline},
                                   std::pair<const char*, ReadFn>{"general", &number_detail::read_number_general}}) {
    // The token and its zero byte in a block of exactly that size, or of the
    // reader's reach when that is more: what it may read and no more.
    const size_t block = std::max(size + 1, NumberReach);
    fuzz::ExactBlock copy(block);
    std::memcpy(copy.data(), data, size);
    std::memset(copy.data() + size, 0, block - size);
    DecodeError error{static_cast<ReadErrorCode>(99), "untouched", 12345};
    const ReaderInput input{copy.data(), copy.data() + size, copy.data() + block, &error};
    JsonValue out{0, {0}};
    const uint8_t* next = read(copy.data(), out, input);
    if (!ok) {
      if (next != nullptr || error.code != ReadErrorCode::InvalidNumber ||
          std::strcmp(error.message, reference.failure.message) != 0 || error.position != reference.failure.position)
        fuzz::fail("%s '%s': %s '%s' at %zu where '%s' at %zu was expected", name, fuzz::printable(text).c_str(),
                   next != nullptr ? "read" : "failed", next != nullptr ? "" : error.message, error.position,
                   reference.failure.message, reference.failure.position);
      continue;
    }
    if (next == nullptr)
      fuzz::fail("%s '%s': failed '%s' at %zu", name, fuzz::printable(text).c_str(), error.message, error.position);
    expect(error.code == static_cast<ReadErrorCode>(99), "%s: failure record touched on success", name);
    if (static_cast<size_t>(next - copy.data()) != end || out.tag != want.tag || out.u64 != want.payload)
      fuzz::fail("%s '%s': tag %llu value %016llx (%.17g) ending at %td where tag %u value %016llx (%.17g) ending "
                 "at %zu was expected",
                 name, fuzz::printable(text).c_str(), static_cast<unsigned long long>(out.tag),
                 static_cast<unsigned long long>(out.u64), out.f64, next - copy.data(), want.tag,
                 static_cast<unsigned long long>(want.payload), std::bit_cast<double>(want.payload), end);
  }
}

// ------------------------------------------------------------ recipes

// The decimal digits of a non-negative integer held in base 10^9 limbs,
// least significant first.
struct Decimal {
  std::vector<uint32_t> limbs{0};

  void multiply(uint32_t factor) {
    uint64_t carry = 0;
    for (uint32_t& limb : limbs) {
      const uint64_t v = uint64_t{limb} * factor + carry;
      limb = static_cast<uint32_t>(v % 1000000000);
      carry = v / 1000000000;
    }
    while (carry != 0) {
      limbs.push_back(static_cast<uint32_t>(carry % 1000000000));
      carry /= 1000000000;
    }
  }
  std::string digits() const {
    std::string out = std::to_string(limbs.back());
    for (size_t i = limbs.size() - 1; i-- > 0;) {
      const std::string part = std::to_string(limbs[i]);
      out += std::string(9 - part.size(), '0') + part;
    }
    return out;
  }
};

// The exact value m * 2^q as decimal digits D and exponent e (D * 10^e).
std::pair<std::string, int64_t> exact_decimal(uint64_t m, int64_t q) {
  Decimal d;
  d.limbs = {static_cast<uint32_t>(m % 1000000000), static_cast<uint32_t>(m / 1000000000 % 1000000000),
             static_cast<uint32_t>(m / 1000000000000000000)};
  while (d.limbs.size() > 1 && d.limbs.back() == 0) d.limbs.pop_back();
  // In steps of 2^29 and 5^13, the largest powers that keep a limb's
  // product within 64 bits.
  for (int64_t k = q; k > 0; k -= 29) d.multiply(uint32_t{1} << std::min<int64_t>(k, 29));
  for (int64_t k = -q; k > 0; k -= 13) d.multiply(static_cast<uint32_t>(std::pow(5.0, std::min<int64_t>(k, 13))));
  return {d.digits(), q < 0 ? q : 0};
}

// Bytes of the recipe, zero once it runs out.
struct Recipe {
  const uint8_t* p;
  size_t n;
  size_t i = 0;
  uint8_t byte() { return i < n ? p[i++] : 0; }
  uint64_t word() {
    uint64_t w = 0;
    for (int k = 0; k < 8; ++k) w |= uint64_t{byte()} << (8 * k);
    return w;
  }
};

std::string from_recipe(const uint8_t* data, size_t size) {
  Recipe r{data, size};
  const uint8_t how = r.byte();
  uint64_t bits = r.word() & ~(uint64_t{1} << 63);
  if ((bits >> 52) == 0x7FF) bits = std::bit_cast<uint64_t>(1.7976931348623157e308);  // the last finite
  const uint64_t field = bits >> 52;
  uint64_t m = bits & ((uint64_t{1} << 52) - 1);
  int64_t q = -1074;
  if (field != 0) {
    m |= uint64_t{1} << 52;
    q = static_cast<int64_t>(field) - 1075;
  }
  // The double itself, or the midpoint (2m + 1) * 2^(q-1) above it.
  auto [digits, exponent] = (how & 1) ? exact_decimal(m, q) : exact_decimal(2 * m + 1, q - 1);
  switch ((how >> 1) & 3) {
    case 0:
      break;
    case 1: {  // a hair above: a nonzero digit far out
      const size_t zeros = r.byte() % 40;
      digits += std::string(zeros, '0') + "1";
      exponent -= static_cast<int64_t>(zeros) + 1;
      break;
    }
    case 2: {  // a hair below: the last nonzero digit lowered, nines after it
      size_t last = digits.find_last_not_of('0');
      if (last != std::string::npos && digits != "0") {
        digits[last] = static_cast<char>(digits[last] - 1);
        const size_t nines = r.byte() % 40;
        digits += std::string(nines, '9');
        exponent -= static_cast<int64_t>(nines);
      }
      break;
    }
    case 3: {  // cut to its first digits
      const size_t keep = 1 + r.byte() % 30;
      if (keep < digits.size()) {
        exponent += static_cast<int64_t>(digits.size() - keep);
        digits.resize(keep);
      }
      break;
    }
  }
  digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
  if (how & 8) {  // trailing zeros, which change nothing
    const size_t zeros = r.byte() % 64;
    digits += std::string(zeros, '0');
    exponent -= static_cast<int64_t>(zeros);
  }
  // Where the point goes: after `point` digits (0: "0.ddd", with leading
  // zeros after the point), the rest in the exponent.
  const int64_t point = static_cast<int64_t>(r.byte() % (digits.size() + 2));
  const size_t leading = (how & 16) ? r.byte() % 8 : 0;
  std::string text = (how & 32) ? "-" : "";
  int64_t e = exponent + static_cast<int64_t>(digits.size()) - point;
  if (point == 0) {
    text += "0." + std::string(leading, '0') + digits;
    e += static_cast<int64_t>(leading);
  } else if (static_cast<size_t>(point) >= digits.size()) {
    text += digits;
    if ((how & 64) != 0) text += ".0";
  } else {
    text += digits.substr(0, static_cast<size_t>(point)) + "." + digits.substr(static_cast<size_t>(point));
  }
  if (e != 0 || (how & 128) != 0) {
    text += (r.byte() & 1) ? "E" : "e";
    if (e >= 0 && (r.byte() & 1)) text += "+";
    text += std::to_string(e);
  }
  return text;
}

}  // namespace
}  // namespace vellum

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size != 0 && (data[0] == '-' || (data[0] >= '0' && data[0] <= '9')))
    vellum::check_token(std::string(reinterpret_cast<const char*>(data), size));
  else
    vellum::check_token(vellum::from_recipe(data, size));
  return 0;
}
