#include "kernels/number/format.hpp"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "tests/cpp/exhaustive/number_reference.hpp"

#include "tests/cpp/test_scale.hpp"

namespace {

using vellum::test::test_scale;

int scaled(double n) { return std::max(1, static_cast<int>(n * test_scale())); }

constexpr uint8_t Canary = 0xA5;
constexpr size_t Lead = 16;

uint8_t* format(uint8_t* dst, double v) { return vellum::format_f64(dst, v); }
uint8_t* format(uint8_t* dst, float v) { return vellum::format_f32(dst, v); }
double parse(const std::string& s, double) { return std::strtod(s.c_str(), nullptr); }
float parse(const std::string& s, float) { return std::strtof(s.c_str(), nullptr); }

template <class F>
std::string hex_bits(F v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%0*llx", static_cast<int>(2 * sizeof(F)),
                static_cast<unsigned long long>(std::bit_cast<std::conditional_t<sizeof(F) == 8, uint64_t, uint32_t>>(v)));
  return buf;
}

template <class F>
std::string formatted(F v) {
  std::array<uint8_t, 96> buf{};
  const uint8_t* end = format(buf.data(), v);
  return std::string(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(end - buf.data()));
}

// Text equals the reference layout of the shortest digits, reads back to the
// same bits, and nothing is stored before the start or more than 16 bytes
// past the end.
template <class F>
::testing::AssertionResult formats_correctly(F v) {
  std::array<uint8_t, Lead + 64 + 32> buf;
  buf.fill(Canary);
  uint8_t* start = buf.data() + Lead;
  const uint8_t* end = format(start, v);
  const size_t n = static_cast<size_t>(end - start);
  if (n == 0 || n > (sizeof(F) == 8 ? vellum::MaxF64Text : vellum::MaxF32Text))
    return ::testing::AssertionFailure() << hex_bits(v) << ": length " << n;
  const std::string got(reinterpret_cast<const char*>(start), n);
  const std::string want = vellum_test::reference_text(v);
  if (got != want) return ::testing::AssertionFailure() << hex_bits(v) << ": got " << got << ", want " << want;
  for (size_t i = 0; i < Lead; ++i)
    if (buf[i] != Canary) return ::testing::AssertionFailure() << hex_bits(v) << ": stored before the start";
  for (size_t i = Lead + n + vellum::FloatOverhang; i < buf.size(); ++i)
    if (buf[i] != Canary)
      return ::testing::AssertionFailure() << hex_bits(v) << " (" << got << "): stored " << (i - Lead - n)
                                           << " bytes past the end";
  const F back = parse(got, F{});
  if (hex_bits(back) != hex_bits(v))
    return ::testing::AssertionFailure() << hex_bits(v) << ": " << got << " reads back as " << hex_bits(back);
  return ::testing::AssertionSuccess();
}

struct Case {
  double value;
  const char* text;
};

TEST(NumberFloat, DoubleTextTable) {
  const double third = 1.0 / 3.0;
  const Case cases[] = {
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1.0, "1.0"},
      {-1.0, "-1.0"},
      {0.1, "0.1"},
      {0.3, "0.3"},
      {third, "0.3333333333333333"},
      {-1.5, "-1.5"},
      {123.456, "123.456"},
      {100.0, "100.0"},
      {2.5e-05, "0.000025"},
      {1e-05, "0.00001"},
      {1.2345e-05, "0.000012345"},
      {9.9999e-06, "9.9999e-6"},
      {1e-06, "1e-6"},
      {1e15, "1000000000000000.0"},
      {1.5e15, "1500000000000000.0"},
      {1234567890123456.7, "1234567890123456.8"},
      {999999999999999.9, "999999999999999.9"},
      {9007199254740992.0, "9007199254740992.0"},
      {1e16, "1e+16"},
      {1.5e16, "1.5e+16"},
      {12345678901234567890.0, "1.2345678901234567e+19"},
      {1e22, "1e+22"},
      {1e23, "1e+23"},
      {1e100, "1e+100"},
      {-1e-100, "-1e-100"},
      {5e-324, "5e-324"},
      {-5e-324, "-5e-324"},
      {1e-323, "1e-323"},
      {6e-323, "6e-323"},
      {std::numeric_limits<double>::denorm_min() * 12, "6e-323"},
      {DBL_MAX, "1.7976931348623157e+308"},
      {-DBL_MAX, "-1.7976931348623157e+308"},
      {DBL_MIN, "2.2250738585072014e-308"},
      {2.225073858507201e-308, "2.225073858507201e-308"},
      {0.5, "0.5"},
      {42.0, "42.0"},
      {1.7976931348623157e308 / 2, "8.988465674311579e+307"},
      {5e-5, "0.00005"},
      {123456.789e3, "123456789.0"},
      {std::numeric_limits<double>::quiet_NaN(), "null"},
      {std::numeric_limits<double>::infinity(), "null"},
      {-std::numeric_limits<double>::infinity(), "null"},
  };
  for (const auto& c : cases) EXPECT_EQ(formatted(c.value), c.text) << hex_bits(c.value);
}

TEST(NumberFloat, SingleTextTable) {
  struct SingleCase {
    float value;
    const char* text;
  };
  const SingleCase cases[] = {
      {0.0f, "0.0"},
      {-0.0f, "-0.0"},
      {1.0f, "1.0"},
      {0.1f, "0.1"},
      {1.0f / 3.0f, "0.33333334"},
      {1e-06f, "0.000001"},
      {1.5e-06f, "0.0000015"},
      {1e-07f, "1e-7"},
      {1e12f, "1000000000000.0"},
      {1e13f, "1e+13"},
      {16777216.0f, "16777216.0"},
      {FLT_MAX, "3.4028235e+38"},
      {FLT_MIN, "1.1754944e-38"},
      {std::numeric_limits<float>::denorm_min(), "1e-45"},
      {-std::numeric_limits<float>::denorm_min(), "-1e-45"},
      {123.456f, "123.456"},
      {std::numeric_limits<float>::quiet_NaN(), "null"},
      {-std::numeric_limits<float>::infinity(), "null"},
  };
  for (const auto& c : cases) EXPECT_EQ(formatted(c.value), c.text) << hex_bits(c.value);
}

// The text forms on both sides of every switch between fixed and exponent
// notation, and the exponent texts of one, two and three digits.
TEST(NumberFloat, FormBoundaries) {
  const Case doubles[] = {
      {1e-7, "1e-7"},
      {1.5e-7, "1.5e-7"},
      {9.999999999999997e-7, "9.999999999999997e-7"},
      {1e-6, "1e-6"},
      {1.2345678901234567e-6, "1.2345678901234567e-6"},
      {9.99999e-6, "9.99999e-6"},
      {1e-5, "0.00001"},
      {1.2345678901234568e-5, "0.000012345678901234568"},
      {1e-4, "0.0001"},
      {0.1, "0.1"},
      {1e14, "100000000000000.0"},
      {1.5e14, "150000000000000.0"},
      {123456789012345.6, "123456789012345.6"},
      {9999999999999998.0, "9999999999999998.0"},
      {1e15, "1000000000000000.0"},
      {1000000000000000.2, "1000000000000000.2"},
      {1e16, "1e+16"},
      {1.0000000000000002e16, "1.0000000000000002e+16"},
      {1.2345678901234567e16, "1.2345678901234568e+16"},
      {1e17, "1e+17"},
      {1.5e17, "1.5e+17"},
      {1e-9, "1e-9"},
      {1e-10, "1e-10"},
      {1e-99, "1e-99"},
      {1e-100, "1e-100"},
      {1e99, "1e+99"},
      {1e100, "1e+100"},
      {1e308, "1e+308"},
      {2.5e-308, "2.5e-308"},
  };
  for (const auto& c : doubles) {
    EXPECT_EQ(formatted(c.value), c.text) << hex_bits(c.value);
    EXPECT_EQ(formatted(-c.value), std::string("-") + c.text) << hex_bits(c.value);
  }
  struct SingleCase {
    float value;
    const char* text;
  };
  const SingleCase singles[] = {
      {1e-8f, "1e-8"},
      {1e-7f, "1e-7"},
      {1.5e-7f, "1.5e-7"},
      {9.999999e-7f, "9.999999e-7"},
      {1e-6f, "0.000001"},
      {1.2345678e-6f, "0.0000012345678"},
      {1e-5f, "0.00001"},
      {1e11f, "100000000000.0"},
      {1e12f, "1000000000000.0"},
      {1.5e12f, "1500000000000.0"},
      {1.2345678e12f, "1234567800000.0"},
      {1e13f, "1e+13"},
      {1.2345678e13f, "1.2345678e+13"},
      {1e14f, "1e+14"},
      {1e-10f, "1e-10"},
      {1e38f, "1e+38"},
      {1e-38f, "1e-38"},
  };
  for (const auto& c : singles) {
    EXPECT_EQ(formatted(c.value), c.text) << hex_bits(c.value);
    EXPECT_EQ(formatted(-c.value), std::string("-") + c.text) << hex_bits(c.value);
  }
}

// One and two digits at every decimal exponent, written from the rules
// alone: fixed for -5..15 (-6..12 for singles), otherwise d[.d]e+-|E|.
TEST(NumberFloat, FormAtEveryExponent) {
  auto expected = [](const std::string& digits, int e, int fixed_min, int fixed_max) {
    const int k = static_cast<int>(digits.size());
    if (e >= fixed_min && e <= fixed_max) {
      if (e < 0) return "0." + std::string(-e - 1, '0') + digits;
      if (e < k - 1) return digits.substr(0, e + 1) + "." + digits.substr(e + 1);
      return digits + std::string(e - k + 1, '0') + ".0";
    }
    std::string s(1, digits[0]);
    if (k > 1) {
      s += '.';
      s.append(digits, 1);
    }
    s += e < 0 ? "e-" : "e+";
    s += std::to_string(e < 0 ? -e : e);
    return s;
  };
  for (const std::string digits : {"1", "25", "7", "3125"}) {
    for (int e = -323; e <= 308; ++e) {
      const std::string text = digits + "e" + std::to_string(e - static_cast<int>(digits.size()) + 1);
      const double v = std::strtod(text.c_str(), nullptr);
      if (std::isfinite(v) && v != 0 && std::fabs(v) >= DBL_MIN) {
        const std::string want = expected(digits, e, -5, 15);
        EXPECT_EQ(formatted(v), want) << text;
        EXPECT_EQ(formatted(-v), std::string("-").append(want)) << text;
      }
      const float f = std::strtof(text.c_str(), nullptr);
      if (std::isfinite(f) && f != 0 && std::fabs(f) >= FLT_MIN) {
        const std::string want = expected(digits, e, -6, 12);
        EXPECT_EQ(formatted(f), want) << text << "f";
        EXPECT_EQ(formatted(-f), std::string("-").append(want)) << text << "f";
      }
    }
  }
}

// Values with few significant bits near 2^0: their scaled products are
// exact or nearly so, which puts interval bounds and midpoints exactly on a
// candidate (ties, bounds that are themselves short decimals).
TEST(NumberFloat, ExactProductsNearOne) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < scaled(400000); ++i) {
    const int zeros = static_cast<int>(rng() % 53);
    const uint64_t c = ((rng() | 1) << zeros | uint64_t{1} << 52) & ((uint64_t{1} << 53) - 1);
    const int q = static_cast<int>(rng() % 100) - 60;
    ASSERT_TRUE(formats_correctly(std::ldexp(static_cast<double>(c), q)));
    const uint32_t cf = static_cast<uint32_t>(c >> 29) | (1u << 23);
    ASSERT_TRUE(formats_correctly(std::ldexp(static_cast<float>(cf), q)));
  }
}

TEST(NumberFloat, DoubleRandomBits) {
  std::mt19937_64 rng(1);
  const int n = scaled(2000000);
  for (int i = 0; i < n; ++i) {
    const double v = std::bit_cast<double>(rng());
    if (!std::isfinite(v)) continue;
    ASSERT_TRUE(formats_correctly(v));
  }
}

TEST(NumberFloat, SingleRandomBits) {
  std::mt19937 rng(2);
  const int n = scaled(1000000);
  for (int i = 0; i < n; ++i) {
    const float v = std::bit_cast<float>(static_cast<uint32_t>(rng()));
    if (!std::isfinite(v)) continue;
    ASSERT_TRUE(formats_correctly(v));
  }
}

// Values parsed from short decimal texts: random bits almost always need 16
// or 17 digits, these take the paths that find shorter ones.
TEST(NumberFloat, ShortDecimals) {
  std::mt19937_64 rng(3);
  const int n = scaled(600000);
  for (int i = 0; i < n; ++i) {
    const int digits = 1 + static_cast<int>(rng() % 17);
    std::string text;
    for (int d = 0; d < digits; ++d) text += static_cast<char>('0' + rng() % 10);
    const int exp10 = static_cast<int>(rng() % 660) - 340;
    text += 'e';
    text += std::to_string(exp10);
    const double v = std::strtod(text.c_str(), nullptr);
    if (std::isfinite(v)) {
      ASSERT_TRUE(formats_correctly(v)) << text;
    }
    const float f = std::strtof(text.c_str(), nullptr);
    if (std::isfinite(f)) {
      ASSERT_TRUE(formats_correctly(f)) << text;
    }
  }
}

// Every binade: its first value (where the gap below halves), its
// neighbours and its last value, for both signs.
TEST(NumberFloat, PowersOfTwoAndBinadeEdges) {
  for (uint64_t e = 0; e < 2047; ++e) {
    for (uint64_t frac : {uint64_t{0}, uint64_t{1}, uint64_t{2}, (uint64_t{1} << 52) - 1, (uint64_t{1} << 52) - 2,
                          uint64_t{1} << 51}) {
      const double v = std::bit_cast<double>(e << 52 | frac);
      ASSERT_TRUE(formats_correctly(v));
      ASSERT_TRUE(formats_correctly(-v));
    }
  }
  for (uint32_t e = 0; e < 255; ++e) {
    for (uint32_t frac : {0u, 1u, 2u, (1u << 23) - 1, (1u << 23) - 2, 1u << 22}) {
      const float v = std::bit_cast<float>(e << 23 | frac);
      ASSERT_TRUE(formats_correctly(v));
      ASSERT_TRUE(formats_correctly(-v));
    }
  }
}

TEST(NumberFloat, PowersOfTenAndNeighbours) {
  for (int e = -325; e <= 309; ++e) {
    const double v = std::strtod(("1e" + std::to_string(e)).c_str(), nullptr);
    for (double x : {v, std::nextafter(v, 0.0), std::nextafter(v, INFINITY), 9 * v, 5 * v}) {
      if (std::isfinite(x)) {
      ASSERT_TRUE(formats_correctly(x)) << "1e" << e;
    }
    }
    const float f = std::strtof(("1e" + std::to_string(e)).c_str(), nullptr);
    for (float x : {f, std::nextafter(f, 0.0f), std::nextafter(f, INFINITY), 9 * f, 5 * f}) {
      if (std::isfinite(x)) {
      ASSERT_TRUE(formats_correctly(x)) << "1e" << e << "f";
    }
    }
  }
}

TEST(NumberFloat, Subnormals) {
  const uint64_t count = static_cast<uint64_t>(scaled(200000));
  for (uint64_t c = 1; c <= count; ++c) {
    ASSERT_TRUE(formats_correctly(std::bit_cast<double>(c)));
    ASSERT_TRUE(formats_correctly(std::bit_cast<double>((uint64_t{1} << 52) - c)));
    if (c < (1u << 23)) {
      ASSERT_TRUE(formats_correctly(std::bit_cast<float>(static_cast<uint32_t>(c))));
      ASSERT_TRUE(formats_correctly(std::bit_cast<float>(static_cast<uint32_t>((1u << 23) - c))));
    }
  }
  std::mt19937_64 rng(4);
  for (int i = 0; i < scaled(200000); ++i) {
    ASSERT_TRUE(formats_correctly(std::bit_cast<double>(rng() & ((uint64_t{1} << 52) - 1))));
  }
}

// Integral doubles up to 2^53 take a path of their own; check it and the
// values just outside it.
TEST(NumberFloat, IntegralValues) {
  std::mt19937_64 rng(5);
  for (int i = 0; i < scaled(300000); ++i) {
    const uint64_t m = rng() >> (rng() % 64);
    const double v = static_cast<double>(m);
    ASSERT_TRUE(formats_correctly(v));
    ASSERT_TRUE(formats_correctly(v + 0.5));
    const float f = static_cast<float>(m);
    ASSERT_TRUE(formats_correctly(f));
  }
  for (int b = 0; b < 64; ++b) {
    const double p = std::ldexp(1.0, b);
    for (double v : {p - 1, p, p + 1, p * 10, p * 1000 - 1}) ASSERT_TRUE(formats_correctly(v));
  }
}

TEST(NumberFloat, ExtremesAndSigns) {
  const double doubles[] = {DBL_MAX, DBL_MIN, std::numeric_limits<double>::denorm_min(), std::nextafter(DBL_MIN, 0.0),
                            std::nextafter(DBL_MAX, 0.0), DBL_EPSILON, 1.0 - DBL_EPSILON / 2, 1.0 + DBL_EPSILON};
  for (double v : doubles) {
    ASSERT_TRUE(formats_correctly(v));
    ASSERT_TRUE(formats_correctly(-v));
  }
  const float floats[] = {FLT_MAX, FLT_MIN, std::numeric_limits<float>::denorm_min(), std::nextafter(FLT_MIN, 0.0f),
                          std::nextafter(FLT_MAX, 0.0f), FLT_EPSILON, 1.0f - FLT_EPSILON / 2, 1.0f + FLT_EPSILON};
  for (float v : floats) {
    ASSERT_TRUE(formats_correctly(v));
    ASSERT_TRUE(formats_correctly(-v));
  }
}

// Every text length and layout (fixed with the point at each position,
// leading zeros, integral, exponent) with the longest digit strings, where
// the overhang is largest.
TEST(NumberFloat, EveryLayoutPosition) {
  std::mt19937_64 rng(6);
  for (int e = -330; e <= 310; ++e) {
    for (int digits = 1; digits <= 17; ++digits) {
      for (int rep = 0; rep < 3; ++rep) {
        std::string text = std::to_string(1 + rng() % 9);
        for (int d = 1; d < digits; ++d) text += static_cast<char>('0' + rng() % 10);
        text += 'e';
        text += std::to_string(e - digits + 1);
        const double v = std::strtod(text.c_str(), nullptr);
        if (std::isfinite(v)) {
      ASSERT_TRUE(formats_correctly(v)) << text;
    }
        const float f = std::strtof(text.c_str(), nullptr);
        if (std::isfinite(f)) {
      ASSERT_TRUE(formats_correctly(f)) << text;
    }
      }
    }
  }
}

}  // namespace
