#include "reader/number.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/cpp/test_scale.hpp"

namespace vellum {
namespace {

constexpr const char* Infinity = "number is infinity when parsed as double";

using test::scaled;

// What read_number made of one token.
struct Outcome {
  bool ok = false;
  uint64_t tag = 0;
  uint64_t payload = 0;
  size_t end = 0;  // offset of the returned position
  std::string message;
  size_t position = 0;
};

// Reads `token` followed by `after` from an exact-size heap block, so any read
// past what the reader may read trips the address sanitizer.
using Reader = const uint8_t* (*)(const uint8_t*, JsonValue&, const ReaderInput&);

// The inline entry, and the general reader it hands the rarer forms to; both must
// give the same answer for every token.
const Reader Readers[] = {&read_number, &number_detail::read_number_general};

Outcome read(const std::string& token, const std::string& after = "", Reader reader = &read_number) {
  const size_t n = token.size() + after.size();
  // The text and its zero byte, and no more than the reader's reach from
  // the token's first byte.
  const size_t size = std::max(n + 1, NumberReach);
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[size]);
  std::memcpy(buffer.get(), token.data(), token.size());
  std::memcpy(buffer.get() + token.size(), after.data(), after.size());
  std::memset(buffer.get() + n, 0, size - n);
  JsonValue value{};
  value.tag = 0xDEAD;
  DecodeError error{};
  const ReaderInput copy{buffer.get(), buffer.get() + n, buffer.get() + size, &error};
  const uint8_t* end = reader(buffer.get(), value, copy);
  Outcome o;
  if (end != nullptr) {
    o.ok = true;
    o.tag = value.tag;
    o.payload = value.u64;
    o.end = static_cast<size_t>(end - buffer.get());
  } else {
    EXPECT_EQ(error.code, ReadErrorCode::InvalidNumber);
    o.message = error.message != nullptr ? error.message : "(null)";
    o.position = error.position;
  }
  return o;
}

std::string describe(const Outcome& o) {
  if (!o.ok) return "failure \"" + o.message + "\" at " + std::to_string(o.position);
  std::string s = "tag " + std::to_string(o.tag) + " end " + std::to_string(o.end) + " payload ";
  if (o.tag == tag::Real) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, std::bit_cast<double>(o.payload));
    s.append(buf, r.ptr);
    char hex[32];
    std::snprintf(hex, sizeof hex, " (0x%016llx)", static_cast<unsigned long long>(o.payload));
    s += hex;
  } else {
    s += std::to_string(o.payload);
  }
  return s;
}

struct Expected {
  enum Kind { Unsigned, Signed, Real, Failure } kind;
  uint64_t payload = 0;
  const char* message = nullptr;
  size_t position = 0;
  size_t end = SIZE_MAX;  // SIZE_MAX: the whole token
};

Expected unsigned_int(uint64_t v) { return {Expected::Unsigned, v}; }
Expected signed_int(int64_t v) { return {Expected::Signed, static_cast<uint64_t>(v)}; }
Expected real(double v) { return {Expected::Real, std::bit_cast<uint64_t>(v)}; }
Expected real_bits(uint64_t bits) { return {Expected::Real, bits}; }
Expected fails(const char* message, size_t position) {
  return {Expected::Failure, 0, message, position};
}
Expected ends_at(Expected e, size_t end) {
  e.end = end;
  return e;
}

// Empty when `o` is what `e` says for `token`, else an explanation.
std::string mismatch(const std::string& token, const Expected& e, const Outcome& o) {
  bool good;
  if (e.kind == Expected::Failure) {
    good = !o.ok && o.message == e.message && o.position == e.position;
  } else {
    static constexpr uint64_t tags[] = {tag::Unsigned, tag::Signed, tag::Real};
    const size_t end = e.end == SIZE_MAX ? token.size() : e.end;
    good = o.ok && o.tag == tags[e.kind] && o.payload == e.payload && o.end == end;
  }
  if (good) return {};
  Outcome want;
  if (e.kind == Expected::Failure) {
    want.message = e.message;
    want.position = e.position;
  } else {
    static constexpr uint64_t tags[] = {tag::Unsigned, tag::Signed, tag::Real};
    want.ok = true;
    want.tag = tags[e.kind];
    want.payload = e.payload;
    want.end = e.end == SIZE_MAX ? token.size() : e.end;
  }
  std::string t = token.size() > 200 ? token.substr(0, 200) + "...(" + std::to_string(token.size()) + " bytes)" : token;
  return "token " + t + "\n  got  " + describe(o) + "\n  want " + describe(want);
}

struct Case {
  std::string input;
  Expected expected;
};

void run_table(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    for (Reader reader : Readers) {
      std::string m = mismatch(c.input, c.expected, read(c.input, "", reader));
      EXPECT_TRUE(m.empty()) << (reader == Readers[0] ? "inline: " : "general: ") << m;
    }
  }
}

constexpr double MinSubnormal = 4.9406564584124654e-324;
constexpr uint64_t Two63 = uint64_t{1} << 63;

TEST(ReaderNumber, Integers) {
  run_table({
      {"0", unsigned_int(0)},
      {"-0", signed_int(0)},
      {"7", unsigned_int(7)},
      {"-7", signed_int(-7)},
      {"10", unsigned_int(10)},
      {"123456789", unsigned_int(123456789)},
      {"999999999999999999", unsigned_int(999999999999999999)},
      {"1000000000000000000", unsigned_int(1000000000000000000)},
      {"9007199254740993", unsigned_int(9007199254740993)},
      {"9223372036854775807", unsigned_int(9223372036854775807)},
      {"9223372036854775808", unsigned_int(Two63)},
      {"-9223372036854775807", signed_int(-9223372036854775807)},
      {"-9223372036854775808", signed_int(std::numeric_limits<int64_t>::min())},
      {"-9223372036854775809", real(-9223372036854775808.0)},
      {"-9999999999999999999", real(-1e19)},
      {"9999999999999999999", unsigned_int(9999999999999999999u)},
      {"10000000000000000000", unsigned_int(10000000000000000000u)},
      {"18446744073709551615", unsigned_int(18446744073709551615u)},
      {"18446744073709551616", real(18446744073709551616.0)},
      {"18446744073709551619", real(18446744073709551616.0)},
      {"18446744073709551620", real(18446744073709551616.0)},
      {"-18446744073709551615", real(-18446744073709551616.0)},
      {"-10000000000000000000", real(-1e19)},
      {"99999999999999999999", real(1e20)},
      {"100000000000000000000", real(1e20)},
      {"-100000000000000000000", real(-1e20)},
      {"123456789012345678901234567890", real(1.2345678901234568e29)},
      // The byte after the token is the caller's business.
      {"0-", ends_at(unsigned_int(0), 1)},
      {"-0-", ends_at(signed_int(0), 2)},
      {"0x10", ends_at(unsigned_int(0), 1)},
      {"12,", ends_at(unsigned_int(12), 2)},
      {"12]", ends_at(unsigned_int(12), 2)},
      {"18446744073709551615x", ends_at(unsigned_int(18446744073709551615u), 20)},
      {"1844674407370955161]", ends_at(unsigned_int(1844674407370955161u), 19)},
  });
}

TEST(ReaderNumber, RealsAndZeros) {
  run_table({
      {"-0.0", real(-0.0)},
      {"-0e5", real(-0.0)},
      {"0e0", real(0.0)},
      {"0E+7", real(0.0)},
      {"0.0", real(0.0)},
      {"0.0000", real(0.0)},
      {"-0.000e-3", real(-0.0)},
      {"0e99999999999999999999999", real(0.0)},
      {"0.0e-30", real(0.0)},
      {"-0.0e100", real(-0.0)},
      {"0.000e+999", real(0.0)},
      {"0.0000000000000000000000000", real(0.0)},
      {"-0.0e99999999999999999999999", real(-0.0)},
      {"1e0", real(1.0)},
      {"1.0", real(1.0)},
      {"1.5", real(1.5)},
      {"10.5", real(10.5)},
      {"1e2", real(100.0)},
      {"1E2", real(100.0)},
      {"1.25E-1", real(0.125)},
      {"1e+2", real(100.0)},
      {"1e-2", real(0.01)},
      {"-2.5e-3", real(-0.0025)},
      {"0.1", real(0.1)},
      {"0.00001", real(1e-5)},
      {"0.30000000000000004", real(0.30000000000000004)},
      {"123.456e7", real(123.456e7)},
      {"1e0000000000000000000001", real(10.0)},
      {"1e-0000000000000000000000000000001", real(0.1)},
      {"1e308", real(1e308)},
      {"1.7976931348623157e308", real(1.7976931348623157e308)},
      {"-1.7976931348623157e308", real(-1.7976931348623157e308)},
      {"1.7976931348623158e308", real(1.7976931348623157e308)},
      {"1e-400", real(0.0)},
      {"-1e-400", real(-0.0)},
      {"1e-99999999999999999999", real(0.0)},
      {"-1e-99999999999999999999", real(-0.0)},
      {"1e-1000000000000000000", real(0.0)},
      {"4.9e-324", real(MinSubnormal)},
      {"5e-324", real(MinSubnormal)},
      {"2.4703282292062327e-324", real(0.0)},
      {"2.4703282292062328e-324", real(MinSubnormal)},
      {"-2.4703282292062328e-324", real(-MinSubnormal)},
      {"2.2250738585072011e-308", real(2.225073858507201e-308)},
      {"2.2250738585072014e-308", real(2.2250738585072014e-308)},
      {"9007199254740993.0", real(9007199254740992.0)},
      {"9007199254740995.0", real(9007199254740996.0)},
      {"9007199254740993e0", real(9007199254740992.0)},
      {"900719925474099.3e1", real(9007199254740992.0)},
      {"90071992547409930e-1", real(9007199254740992.0)},
      {"9007199254740993.00000000000000000000000000000001", real(9007199254740994.0)},
      {"9007199254740992.99999999999999999999999999999999", real(9007199254740992.0)},
      {"3.14159265358979323846264338327950288", real(3.141592653589793)},
      {"1" + std::string(308, '0'), real(1e308)},
      {"1" + std::string(308, '0') + ".0", real(1e308)},
      {"0." + std::string(400, '0') + "1", real(0.0)},
      {"1" + std::string(400, '0') + "e-400", real(1.0)},
      {"0." + std::string(320, '0') + "1", real(1e-321)},
      // Past the last digit the caller judges.
      {"1.5.3", ends_at(real(1.5), 3)},
      {"1e5e5", ends_at(real(1e5), 3)},
      {"1.5x", ends_at(real(1.5), 3)},
      {"-0.5,", ends_at(real(-0.5), 4)},
      {"2e-3]", ends_at(real(2e-3), 4)},
  });
}

TEST(ReaderNumber, Failures) {
  const char* minus = "no digit after minus sign";
  const char* zero = "number with leading zero is not allowed";
  const char* point = "no digit after decimal point";
  const char* exponent = "no digit after exponent sign";
  run_table({
      {"01", fails(zero, 0)},
      {"-01", fails(zero, 1)},
      {"00", fails(zero, 0)},
      {"-00.5", fails(zero, 1)},
      {"-", fails(minus, 1)},
      {"-a", fails(minus, 1)},
      {"-.5", fails(minus, 1)},
      {"--1", fails(minus, 1)},
      {"-e1", fails(minus, 1)},
      {"1.", fails(point, 2)},
      {"1.e5", fails(point, 2)},
      {"0.", fails(point, 2)},
      {"0.e1", fails(point, 2)},
      {"-0.x", fails(point, 3)},
      {"12345678901234567890123.", fails(point, 24)},
      {"1e", fails(exponent, 2)},
      {"1e+", fails(exponent, 3)},
      {"1e+x", fails(exponent, 3)},
      {"1E-", fails(exponent, 3)},
      {"1.5e", fails(exponent, 4)},
      {"0e", fails(exponent, 2)},
      {"-0e-", fails(exponent, 4)},
      {"0.0e", fails(exponent, 4)},
      {"1e++1", fails(exponent, 3)},
      {"123456789012345678901234e", fails(exponent, 25)},
      {"1e309", fails(Infinity, 0)},
      {"-1e309", fails(Infinity, 0)},
      {"1.7976931348623159e308", fails(Infinity, 0)},
      {"-1.7976931348623159e308", fails(Infinity, 0)},
      {"1e99999999999999999999", fails(Infinity, 0)},
      {"1e1000000000000000000", fails(Infinity, 0)},
      {"1e400", fails(Infinity, 0)},
      {"0.001e312", fails(Infinity, 0)},
      {"1" + std::string(309, '0'), fails(Infinity, 0)},
      {"-1" + std::string(309, '0') + ".5", fails(Infinity, 0)},
      // Halfway between the largest finite value and 2^1024 rounds to even: infinity.
      {"179769313486231580793728971405303415079934132710037826936173778980444968292764750946649017977587207096330286416692887910946555547851940402630657488671505820681908902000708383676273854845817711531764475730270069855571366959622842914819860834936475292719074168444365510704342711559699508093042880177904174497792", fails(Infinity, 0)},
      {"179769313486231580793728971405303415079934132710037826936173778980444968292764750946649017977587207096330286416692887910946555547851940402630657488671505820681908902000708383676273854845817711531764475730270069855571366959622842914819860834936475292719074168444365510704342711559699508093042880177904174497791", real(1.7976931348623157e308)},
  });
}

// Long mantissas: the exact comparison sees at most 769 significant digits, the
// last standing for a nonzero tail.
TEST(ReaderNumber, LongMantissas) {
  const std::string zeros800(800, '0');
  run_table({
      {"9007199254740993." + zeros800, real(9007199254740992.0)},
      {"9007199254740993." + zeros800 + "1", real(9007199254740994.0)},
      {"9007199254740993" + zeros800 + "e-800", real(9007199254740992.0)},
      {"9007199254740993" + zeros800 + "1e-801", real(9007199254740994.0)},
      {"9007199254740992." + std::string(800, '9'), real(9007199254740992.0)},
      {"0.000" + std::string(800, '9') + "e4", real(10.0)},
      {"1" + zeros800 + "e-800", real(1.0)},
      {"0." + zeros800 + "1e801", real(1.0)},
      {std::string(700, '1') + "e-400", real(1.1111111111111111e299)},
  });
  // 2^-1075, halfway between zero and the smallest subnormal, written out in full
  // (its 1075 decimal places end in ...5): ties to zero; any nonzero tail rounds up.
  std::string half_min;
  {
    std::vector<uint32_t> limbs{1};  // 5^1075 in base 10^9
    for (int i = 0; i < 1075; ++i) {
      uint64_t carry = 0;
      for (uint32_t& l : limbs) {
        uint64_t v = uint64_t{l} * 5 + carry;
        l = static_cast<uint32_t>(v % 1000000000);
        carry = v / 1000000000;
      }
      if (carry) limbs.push_back(static_cast<uint32_t>(carry));
    }
    half_min = std::to_string(limbs.back());
    for (size_t i = limbs.size() - 1; i-- > 0;) {
      std::string part = std::to_string(limbs[i]);
      half_min += std::string(9 - part.size(), '0') + part;
    }
  }
  const std::string frac = std::string(1075 - half_min.size(), '0') + half_min;
  run_table({
      {"0." + frac, real(0.0)},
      {"-0." + frac, real(-0.0)},
      {"0." + frac + "000000001", real(MinSubnormal)},
      {"0." + frac + zeros800 + "1", real(MinSubnormal)},
      {half_min + "e-1075", real(0.0)},
      {half_min + "1e-1076", real(MinSubnormal)},
  });
}

// ---------------------------------------------------------------- against strtod

// The reading the token must get: integers by the 64-bit rules, reals by strtod.
Expected oracle(const std::string& token) {
  const bool negative = token[0] == '-';
  if (token.find_first_of(".eE") == std::string::npos) {
    const char* first = token.data() + negative;
    const char* last = token.data() + token.size();
    uint64_t v;
    auto r = std::from_chars(first, last, v);
    if (r.ec == std::errc() && r.ptr == last) {
      if (!negative) return unsigned_int(v);
      if (v <= Two63) return signed_int(static_cast<int64_t>(0 - v));
    }
  }
  char* end = nullptr;
  errno = 0;
  const double d = std::strtod(token.c_str(), &end);
  if (end != token.c_str() + token.size()) return fails("oracle could not read the token", 0);
  if (std::isinf(d)) return fails(Infinity, 0);
  return real(d);
}

class Checker {
 public:
  void check(const std::string& token, const std::string& after = "") {
    ++count_;
    check_against(token, oracle(token), after);
  }
  void check_against(const std::string& token, const Expected& e, const std::string& after = "") {
    for (Reader reader : Readers) {
      std::string m = mismatch(token, e, read(token, after, reader));
      if (!m.empty() && ++failures_ <= 10)
        ADD_FAILURE() << (reader == Readers[0] ? "inline: " : "general: ") << m;
    }
  }
  size_t failures() const { return failures_; }
  size_t count() const { return count_; }

 private:
  size_t failures_ = 0;
  size_t count_ = 0;
};

const char* const After[] = {"", ",", "]", "}", " ", "\n", "x", "\"", ":", "+", "-"};

std::string digits(std::mt19937_64& rng, size_t n, bool first_nonzero) {
  std::string s(n, '0');
  // Runs of 0s and 9s sit near rounding boundaries more often than random digits.
  const int style = static_cast<int>(rng() % 4);
  for (size_t i = 0; i < n; ++i) {
    switch (style) {
      case 0:
      case 1: s[i] = static_cast<char>('0' + rng() % 10); break;
      case 2: s[i] = rng() % 8 == 0 ? static_cast<char>('0' + rng() % 10) : '0'; break;
      default: s[i] = rng() % 8 == 0 ? static_cast<char>('0' + rng() % 10) : '9'; break;
    }
  }
  if (first_nonzero && n > 0 && s[0] == '0') s[0] = static_cast<char>('1' + rng() % 9);
  return s;
}

// The digit string D (first digit nonzero) with value D * 10^exp, written with a
// decimal point in a random place and an exponent that compensates.
std::string format(std::mt19937_64& rng, const std::string& d, int64_t exp, bool negative) {
  std::string out = negative ? "-" : "";
  const int64_t n = static_cast<int64_t>(d.size());
  switch (rng() % 4) {
    case 0:  // integer digits and an exponent
      out += d;
      out += rng() % 2 ? 'e' : 'E';
      out += std::to_string(exp);
      return out;
    case 1: {  // a point after k digits
      const int64_t k = 1 + static_cast<int64_t>(rng() % static_cast<uint64_t>(n));
      out += d.substr(0, k);
      if (k < n) out += "." + d.substr(k);
      const int64_t x = exp + n - k;
      if (x != 0 || k == n || rng() % 2) out += "e" + std::string(x >= 0 && rng() % 2 ? "+" : "") + std::to_string(x);
      return out;
    }
    case 2: {  // 0.000ddd
      const int64_t zeros = static_cast<int64_t>(rng() % 5);
      out += "0." + std::string(static_cast<size_t>(zeros), '0') + d;
      out += "e" + std::to_string(exp + n + zeros);
      return out;
    }
    default: {  // plain decimal when the exponent is small enough, else as case 0
      if (exp >= 0 && exp < 40) {
        out += d + std::string(static_cast<size_t>(exp), '0') + ".0";
      } else if (exp < 0 && -exp < n) {
        out += d.substr(0, static_cast<size_t>(n + exp)) + "." + d.substr(static_cast<size_t>(n + exp));
      } else if (exp < 0 && -exp < 400) {
        out += "0." + std::string(static_cast<size_t>(-exp - n), '0') + d;
      } else {
        out += d + "e" + std::to_string(exp);
      }
      return out;
    }
  }
}

TEST(ReaderNumberOracle, ShortReals) {
  std::mt19937_64 rng(1);
  Checker c;
  const size_t n = scaled(1500000);
  for (size_t i = 0; i < n; ++i) {
    const size_t len = 1 + rng() % 20;
    const std::string d = digits(rng, len, true);
    int64_t exp;
    switch (rng() % 4) {
      case 0: exp = static_cast<int64_t>(rng() % 45) - 22 - static_cast<int64_t>(len); break;
      case 1: exp = static_cast<int64_t>(rng() % 60) - 40; break;
      default: exp = static_cast<int64_t>(rng() % 680) - 345 - static_cast<int64_t>(len); break;
    }
    c.check(format(rng, d, exp, rng() % 2), After[rng() % std::size(After)]);
  }
  EXPECT_EQ(c.failures(), 0u);
}

TEST(ReaderNumberOracle, LongReals) {
  std::mt19937_64 rng(2);
  Checker c;
  const size_t n = scaled(40000);
  for (size_t i = 0; i < n; ++i) {
    const size_t len = 1 + rng() % 800;
    const std::string d = digits(rng, len, true);
    const int64_t lead = static_cast<int64_t>(rng() % 680) - 345;  // decimal exponent of the value
    c.check(format(rng, d, lead - static_cast<int64_t>(len) + 1, rng() % 2), After[rng() % std::size(After)]);
  }
  EXPECT_EQ(c.failures(), 0u);
}

TEST(ReaderNumberOracle, WholeExponentRange) {
  std::mt19937_64 rng(3);
  Checker c;
  const size_t n = scaled(200000);
  for (size_t i = 0; i < n; ++i) {
    const size_t len = 1 + rng() % 30;
    const std::string d = digits(rng, len, true);
    int64_t exp;
    switch (rng() % 3) {
      case 0: exp = static_cast<int64_t>(rng() % 2000) - 1000; break;
      case 1: exp = static_cast<int64_t>(rng() % 40) + 290 - static_cast<int64_t>(len); break;
      default: exp = static_cast<int64_t>(rng() % 60) - 360 - static_cast<int64_t>(len); break;
    }
    c.check(format(rng, d, exp, rng() % 2));
  }
  EXPECT_EQ(c.failures(), 0u);
}

TEST(ReaderNumberOracle, IntegersAroundPowersOfTwo) {
  Checker c;
  using u128 = unsigned __int128;
  auto text = [](u128 v) {
    std::string s;
    do {
      s.insert(s.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
      v /= 10;
    } while (v != 0);
    return s;
  };
  const u128 centres[] = {u128{1} << 53, u128{1} << 63, u128{1} << 64, u128{10000000000000000000u},
                          u128{1000000000000000000}, u128{1} << 54, (u128{1} << 64) * 10};
  for (u128 centre : centres) {
    for (int k = -600; k <= 600; ++k) {
      const u128 v = centre + static_cast<u128>(static_cast<__int128>(k));
      const std::string s = text(v);
      for (const char* sign : {"", "-"}) {
        c.check(sign + s, ",");
        c.check(sign + s + ".0");
        c.check(sign + s + ".5");
        c.check(sign + s + "e0");
        c.check(sign + s + "0e-1");
      }
    }
  }
  EXPECT_EQ(c.failures(), 0u);
}

// Decimal digits of h * 2^twos * 5^fives.
std::string decimal(uint64_t h, int twos, int fives) {
  std::vector<uint32_t> limbs;  // base 10^9, least significant first
  for (uint64_t v = h; v != 0; v /= 1000000000) limbs.push_back(static_cast<uint32_t>(v % 1000000000));
  auto mul = [&limbs](uint32_t m) {
    uint64_t carry = 0;
    for (uint32_t& l : limbs) {
      uint64_t v = uint64_t{l} * m + carry;
      l = static_cast<uint32_t>(v % 1000000000);
      carry = v / 1000000000;
    }
    while (carry) {
      limbs.push_back(static_cast<uint32_t>(carry % 1000000000));
      carry /= 1000000000;
    }
  };
  for (; twos >= 30; twos -= 30) mul(uint32_t{1} << 30);
  if (twos) mul(uint32_t{1} << twos);
  for (; fives >= 13; fives -= 13) mul(1220703125);  // 5^13
  for (; fives > 0; --fives) mul(5);
  std::string s = std::to_string(limbs.back());
  for (size_t i = limbs.size() - 1; i-- > 0;) {
    std::string part = std::to_string(limbs[i]);
    s += std::string(9 - part.size(), '0') + part;
  }
  return s;
}

// Exact midpoints between neighbouring binary64 values, written out in full, and
// the numbers just above and just below them.
TEST(ReaderNumberOracle, Midpoints) {
  std::mt19937_64 rng(4);
  Checker c;
  const size_t n = scaled(60000);
  for (size_t i = 0; i < n; ++i) {
    uint64_t field;
    switch (rng() % 5) {
      case 0: field = rng() % 3; break;                  // subnormal and the smallest normals
      case 1: field = 2046 - rng() % 3; break;           // the largest
      case 2: field = 1023 + 52 + rng() % 12 - 6; break;  // around the integers 2^53
      default: field = rng() % 2047; break;
    }
    uint64_t mantissa = rng() & ((uint64_t{1} << 52) - 1);
    if (rng() % 8 == 0) mantissa = rng() % 4;
    if (rng() % 8 == 0) mantissa = ((uint64_t{1} << 52) - 1) - rng() % 4;
    const uint64_t b = field << 52 | mantissa;
    const uint64_t m = field == 0 ? mantissa : mantissa | (uint64_t{1} << 52);
    const int64_t q = field == 0 ? -1074 : static_cast<int64_t>(field) - 1075;
    // midpoint = (2m + 1) * 2^(q - 1) = d * 10^exp
    std::string d;
    int64_t exp;
    if (q - 1 >= 0) {
      d = decimal(2 * m + 1, static_cast<int>(q - 1), 0);
      exp = 0;
    } else {
      d = decimal(2 * m + 1, 0, static_cast<int>(1 - q));
      exp = q - 1;
    }
    const bool negative = rng() % 2;
    const uint64_t even = (m & 1) ? b + 1 : b;
    const uint64_t sign = negative ? uint64_t{1} << 63 : 0;
    const std::string exact = format(rng, d, exp, negative);
    const bool to_infinity = even == uint64_t{0x7FF} << 52;
    c.check_against(exact, to_infinity ? fails(Infinity, 0) : real_bits(even | sign));
    c.check(exact);
    // Just above: a nonzero digit far behind.
    const size_t pad = rng() % 3 == 0 ? 800 : rng() % 20;
    const std::string above = d + std::string(pad, '0') + "1";
    c.check_against(format(rng, above, exp - static_cast<int64_t>(pad) - 1, negative),
                    b + 1 == uint64_t{0x7FF} << 52 ? fails(Infinity, 0) : real_bits((b + 1) | sign));
    // Just below: one less in the last place, then nines.
    std::string below = d;
    size_t j = below.size();
    while (below[--j] == '0') below[j] = '9';
    below[j] = static_cast<char>(below[j] - 1);
    below += std::string(rng() % 20, '9');
    const int64_t below_exp = exp - static_cast<int64_t>(below.size() - d.size());
    if (below[0] == '0') below.erase(0, 1);
    if (!below.empty()) c.check_against(format(rng, below, below_exp, negative), real_bits(b | sign));
  }
  EXPECT_EQ(c.failures(), 0u);
}

// Values that print back exactly (shortest round trip) and their neighbours.
TEST(ReaderNumberOracle, RoundTrips) {
  std::mt19937_64 rng(5);
  Checker c;
  const size_t n = scaled(300000);
  for (size_t i = 0; i < n; ++i) {
    uint64_t bits = rng() % (uint64_t{0x7FF} << 52);
    if (rng() % 4 == 0) bits = rng() % (uint64_t{1} << 52);  // subnormal
    if (rng() % 8 == 0) bits = (uint64_t{0x7FE} << 52) | (rng() >> 12);  // near the top
    const double v = std::bit_cast<double>(bits) * (rng() % 2 ? -1 : 1);
    char buf[64];
    auto r = rng() % 2 ? std::to_chars(buf, buf + sizeof buf, v)
                       : std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 17);
    const std::string text(buf, r.ptr);
    // to_chars may print integers without a point or exponent: force a real.
    const std::string token = text.find_first_of(".e") == std::string::npos ? text + ".0" : text;
    c.check_against(token, real(v));
  }
  EXPECT_EQ(c.failures(), 0u);
}

// Digit runs of every length against every follower: integer parts and
// fractions from 1 to 21 digits, so each run ends in every lane of the first,
// second and third eight-byte load, and each follower (including the bytes just
// below '0' and above '9', whose borrow or carry crosses lanes, and the end of
// the buffer) meets the run in each lane.
TEST(ReaderNumberOracle, RunLengthsAndFollowers) {
  const char* const followers[] = {"",     ",",    "]",    " ",    "/",  ":",  "*", "+",
                                   "-",    "x",    "\x01", "\x7f", "\x80", "\xfa", "\xff", "\""};
  std::mt19937_64 rng(7);
  Checker c;
  for (int style = 0; style < 3; ++style) {
    for (size_t int_len = 1; int_len <= 21; ++int_len) {
      // Random digits, all nines, or a power of ten.
      const std::string whole = style == 0   ? digits(rng, int_len, true)
                                : style == 1 ? std::string(int_len, '9')
                                             : "1" + std::string(int_len - 1, '0');
      for (size_t frac_len = 0; frac_len <= 21; ++frac_len) {
        const std::string fraction = style == 1 ? std::string(frac_len, '9') : digits(rng, frac_len, false);
        // A zero integer part only once per fraction length.
        const std::string bodies[] = {whole, "0"};
        for (size_t b = 0; b < (style == 0 && int_len == 1 ? 2u : 1u); ++b) {
          std::string token = bodies[b];
          if (frac_len > 0) token += "." + fraction;
          for (const char* sign : {"", "-"}) {
            for (const char* exponent : {"", "e7", "E-12", "e+300", "e-0305"}) {
              for (const char* after : followers) c.check(sign + token + exponent, after);
            }
          }
        }
      }
    }
  }
  EXPECT_EQ(c.failures(), 0u);
}

// The eight-byte digit helpers against a byte-at-a-time reading: every byte
// value after every number of leading digits, with random bytes behind it.
TEST(ReaderNumberLanes, CountAndValueOfLeadingDigits) {
  std::mt19937_64 rng(8);
  size_t failures = 0;
  for (unsigned k = 0; k <= 8; ++k) {
    for (unsigned b = 0; b < 256; ++b) {
      for (int fill = 0; fill < 4; ++fill) {
        uint8_t bytes[8];
        for (unsigned i = 0; i < 8; ++i) {
          if (i < k) bytes[i] = static_cast<uint8_t>('0' + rng() % 10);
          else if (i == k) bytes[i] = static_cast<uint8_t>(b);
          else bytes[i] = fill == 0 ? 0 : fill == 1 ? 0xFF : static_cast<uint8_t>(rng());
        }
        unsigned want_count = 0;
        uint64_t want_value = 0;
        while (want_count < 8 && bytes[want_count] >= '0' && bytes[want_count] <= '9')
          want_value = want_value * 10 + (bytes[want_count++] - '0');
        const uint64_t lanes = number_detail::digit_lanes(bytes);
        const unsigned count = number_detail::digit_count(lanes);
        const uint64_t value = number_detail::leading_digits(lanes, count);
        if ((count != want_count || value != want_value) && ++failures <= 10)
          ADD_FAILURE() << "k " << k << " byte " << b << ": count " << count << " value " << value
                        << ", want " << want_count << " " << want_value;
        // Fewer lanes than there are digits: the value of just those.
        for (unsigned n = 0; n <= count; ++n) {
          uint64_t prefix = 0;
          for (unsigned i = 0; i < n; ++i) prefix = prefix * 10 + (bytes[i] - '0');
          if (number_detail::leading_digits(lanes, n) != prefix && ++failures <= 10)
            ADD_FAILURE() << "prefix of " << n << " lanes at k " << k << " byte " << b;
        }
      }
    }
  }
  EXPECT_EQ(failures, 0u);
}

}  // namespace
}  // namespace vellum
