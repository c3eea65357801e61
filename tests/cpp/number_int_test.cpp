#include "kernels/number/format.hpp"

#include <gtest/gtest.h>

#include <array>
#include <charconv>
#include <cstring>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/cpp/test_scale.hpp"

namespace {

using vellum::test::test_scale;

constexpr uint8_t Canary = 0xA5;
constexpr size_t Pad = 24;

template <class T>
std::string expected_text(T v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// Formats into the middle of a canary-filled buffer and checks that exactly
// the returned bytes changed.
template <class T, class Fn>
void check_exact(T v, Fn format) {
  std::array<uint8_t, Pad + 32 + Pad> buf;
  buf.fill(Canary);
  const size_t n = format(v, buf.data() + Pad);
  const std::string want = expected_text(v);
  ASSERT_EQ(std::string(reinterpret_cast<const char*>(buf.data() + Pad), n), want) << "value " << want;
  for (size_t i = 0; i < Pad; ++i) ASSERT_EQ(buf[i], Canary) << "written before the start for " << want;
  for (size_t i = Pad + n; i < buf.size(); ++i)
    ASSERT_EQ(buf[i], Canary) << "written past the end for " << want << " at +" << (i - Pad - n);
}

void check_u32(uint32_t v) { check_exact(v, [](uint32_t x, uint8_t* d) { return vellum::format_u32(x, d); }); }
void check_u64(uint64_t v) { check_exact(v, [](uint64_t x, uint8_t* d) { return vellum::format_u64(x, d); }); }
void check_i64(int64_t v) {
  check_exact(v, [](int64_t x, uint8_t* d) { return static_cast<size_t>(vellum::format_i64(d, x) - d); });
}

// 0, every power of ten and its neighbours, every power of two and its
// neighbours, and the maximum, all within [0, max].
std::vector<uint64_t> boundaries(uint64_t max) {
  std::vector<uint64_t> out{0, 1, max, max - 1};
  for (uint64_t p = 1;; p *= 10) {
    for (uint64_t v : {p - 1, p, p + 1})
      if (v <= max) out.push_back(v);
    if (p > max / 10) break;
  }
  for (int b = 0; b < 64; ++b) {
    const uint64_t p = uint64_t{1} << b;
    for (uint64_t v : {p - 1, p, p + 1})
      if (v <= max) out.push_back(v);
  }
  return out;
}

TEST(NumberInt, U32Boundaries) {
  for (uint64_t v : boundaries(std::numeric_limits<uint32_t>::max())) check_u32(static_cast<uint32_t>(v));
}

TEST(NumberInt, U64Boundaries) {
  for (uint64_t v : boundaries(std::numeric_limits<uint64_t>::max())) check_u64(v);
}

TEST(NumberInt, I64Boundaries) {
  for (uint64_t v : boundaries(std::numeric_limits<int64_t>::max())) {
    check_i64(static_cast<int64_t>(v));
    check_i64(-static_cast<int64_t>(v));
  }
  check_i64(std::numeric_limits<int64_t>::min());
  check_i64(std::numeric_limits<int64_t>::min() + 1);
}

TEST(NumberInt, EveryValueBelowOneHundredThousand) {
  for (uint32_t v = 0; v < 100000; ++v) {
    check_u32(v);
    check_u64(v);
  }
}

// Values of every length: a random 64-bit pattern shifted right by a random
// amount, so that short and long values are equally common.
TEST(NumberInt, RandomMixedLengths) {
  std::mt19937_64 rng(20240611);
  const int n = static_cast<int>(400000 * test_scale());
  for (int i = 0; i < n; ++i) {
    const uint64_t v = rng() >> (rng() % 64);
    check_u64(v);
    check_u32(static_cast<uint32_t>(v));
    check_i64(static_cast<int64_t>(v));
  }
}

// The eight-digit word against plain division, over a stride of all 10^8
// inputs plus every input around each power of ten.
TEST(NumberInt, EightDigitWord) {
  auto check = [](uint32_t v) {
    const uint64_t w = vellum::number::eight_digit_values(v);
    uint32_t x = v;
    for (int i = 7; i >= 0; --i) {
      ASSERT_EQ((w >> (8 * i)) & 0xFF, x % 10) << v;
      x /= 10;
    }
    int zeros = 0;
    for (uint32_t y = v; zeros < 8 && y % 10 == 0; y /= 10) ++zeros;
    ASSERT_EQ(vellum::number::trailing_zero_digits(w), zeros) << v;
  };
  const uint32_t stride = std::max<uint32_t>(1, static_cast<uint32_t>(97 / test_scale()));
  for (uint32_t v = 0; v < 100000000; v += stride) check(v);
  for (uint32_t p = 1; p <= 100000000; p *= 10)
    for (uint32_t d = 0; d < 1000; ++d) {
      if (p - 1 >= d) check(p - 1 - d);
      if (p + d < 100000000) check(p + d);
    }
}

// The sixteen-digit register conversion against the eight-digit word on
// both halves, with distinct random halves and every power of ten.
TEST(NumberInt, SixteenDigitVector) {
  auto check = [](uint32_t hi, uint32_t lo) {
    const __m128i v = vellum::number::sixteen_digit_values(hi, lo);
    uint64_t words[2];
    std::memcpy(words, &v, 16);
    ASSERT_EQ(words[0], vellum::number::eight_digit_values(hi)) << hi;
    ASSERT_EQ(words[1], vellum::number::eight_digit_values(lo)) << lo;
    const int want = lo != 0 ? vellum::number::trailing_zero_digits(words[1])
                             : 8 + vellum::number::trailing_zero_digits(words[0]);
    ASSERT_EQ(vellum::number::trailing_zero_digits(v), want) << hi << " " << lo;
  };
  std::mt19937 rng(7);
  for (int i = 0; i < static_cast<int>(1000000 * test_scale()); ++i) check(rng() % 100000000, rng() % 100000000);
  for (uint32_t p = 1; p < 100000000; p *= 10)
    for (uint32_t q = 1; q < 100000000; q *= 10) {
      check(p, q);
      check(p - 1, q - 1);
      check(p, 0);
      check(0, q);
    }
  check(0, 0);
  check(99999999, 99999999);
}


// Every 8-bit value, signed and unsigned: the text, and no store beyond the
// four bytes the table writer promises.
template <class Byte>
void check_every_byte() {
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<Byte>(i);
    std::array<uint8_t, 16> buf;
    buf.fill(Canary);
    uint8_t* const start = buf.data() + 4;
    const size_t n = static_cast<size_t>(vellum::format_byte(start, v) - start);
    const std::string want = expected_text(static_cast<int>(v));
    ASSERT_EQ(std::string(reinterpret_cast<const char*>(start), n), want);
    for (size_t k = 0; k < 4; ++k) ASSERT_EQ(buf[k], Canary) << want;
    for (size_t k = 8; k < buf.size(); ++k) ASSERT_EQ(buf[k], Canary) << want;
  }
}

TEST(NumberInt, EveryByteValue) {
  check_every_byte<uint8_t>();
  check_every_byte<int8_t>();
}
}  // namespace
