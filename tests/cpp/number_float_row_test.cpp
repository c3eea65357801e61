#include "kernels/number/float_row.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "kernels/number/format.hpp"
#include "tests/cpp/forms.hpp"
#include "tests/cpp/guard_pages.hpp"
#include "tests/cpp/test_scale.hpp"

namespace {

using vellum::FloatRowFn;
using vellum::FloatRowRoutines;
using Table = vellum::test::Form<FloatRowRoutines>;

std::vector<Table> tables() { return vellum::test::tables(vellum::float_row_forms); }

template <class F>
FloatRowFn routine(const FloatRowRoutines& r) {
  return sizeof(F) == 8 ? r.f64_row : r.f32_row;
}

template <class F>
std::string scalar_text(F v) {
  uint8_t buf[64];
  const uint8_t* end = sizeof(F) == 8 ? vellum::format_f64(buf, static_cast<double>(v)) : vellum::format_f32(buf, static_cast<float>(v));
  return std::string(reinterpret_cast<const char*>(buf), static_cast<size_t>(end - buf));
}

template <class F>
std::string expected_row(const std::vector<F>& values, const std::string& separator) {
  std::string out;
  for (F v : values) out += scalar_text(v) + separator;
  return out;
}

// The row as a form writes it, into a block of exactly the room the routine
// asks for, the overhang included.
template <class F>
std::string row_text(FloatRowFn row, const std::vector<F>& values, const std::string& separator) {
  const size_t max_text = sizeof(F) == 8 ? vellum::MaxF64Text : vellum::MaxF32Text;
  std::vector<uint8_t> dst(values.size() * (max_text + separator.size()) + vellum::FloatOverhang);
  const vellum::Separator sep{reinterpret_cast<const uint8_t*>(separator.data()), separator.size()};
  const uint8_t* end = row(dst.data(), reinterpret_cast<const uint8_t*>(values.data()), values.size(), sep);
  return std::string(reinterpret_cast<const char*>(dst.data()), static_cast<size_t>(end - dst.data()));
}

template <class F>
using Bits = std::conditional_t<sizeof(F) == 8, uint64_t, uint32_t>;

// Values at the edges the forms treat differently: binade starts and ends,
// subnormals and the smallest normal, integers around 2^(M+1), the largest
// finite value, zeros, infinities and NaNs, and shortest texts one digit
// short of the most (16/17 digits for doubles, 8/9 for singles).
template <class F>
std::vector<F> edge_values() {
  using L = std::numeric_limits<F>;
  constexpr int M = L::digits - 1;
  std::vector<F> v = {F(0),         -F(0),        L::infinity(),   -L::infinity(), L::quiet_NaN(),
                      L::denorm_min(), L::min(),  L::max(),        L::lowest(),    L::epsilon(),
                      F(1),         F(0.1),       F(0.3),          F(1e-5),        F(1e-6),
                      F(1e-7),      F(123456789), F(1e15),         F(1e16),        F(1e17),
                      F(1e22),      F(1e23),      F(1e-30)};
  for (int e = L::min_exponent - M - 1; e <= L::max_exponent; e += 7) {
    const F p = std::ldexp(F(1), e);
    for (F x : {p, std::nextafter(p, F(0)), std::nextafter(p, L::infinity()), std::nextafter(p * 3, F(0))})
      if (std::isfinite(x)) v.push_back(x);
  }
  for (int q = M - 3; q <= M + 3; ++q) {
    const F p = std::ldexp(F(1), q);
    for (F x : {p - 1, p + 1, p + F(0.5), std::nextafter(p, L::infinity())}) v.push_back(x);
  }
  for (Bits<F> b = 1; b < 40; ++b) v.push_back(std::bit_cast<F>(b));
  // Decimal boundaries: 10^k and its neighbours, and values whose shortest
  // text is one digit short of the most, at many exponents.
  for (int k = L::min_exponent10; k <= L::max_exponent10; k += 3) {
    const F p = static_cast<F>(std::pow(10.0L, k));
    for (F x : {p, std::nextafter(p, F(0)), std::nextafter(p, L::infinity())})
      if (std::isfinite(x) && x != 0) v.push_back(x);
    const F short_one = static_cast<F>(std::pow(10.0L, k) * (sizeof(F) == 8 ? 1.234567890123456L : 1.2345678L));
    if (std::isfinite(short_one) && short_one != 0) v.push_back(short_one);
  }
  const size_t n = v.size();
  for (size_t i = 0; i < n; ++i) v.push_back(-v[i]);
  return v;
}

template <class F>
std::vector<F> random_values(size_t n, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<F> v(n);
  for (F& x : v) {
    switch (rng() % 4) {
      case 0: x = std::bit_cast<F>(static_cast<Bits<F>>(rng())); break;  // any bits
      case 1: x = static_cast<F>(std::ldexp(static_cast<double>(rng() >> 11), -53)); break;  // [0, 1)
      case 2: x = static_cast<F>(static_cast<int64_t>(rng() % 2000000) - 1000000) / F(64); break;
      default: x = static_cast<F>(std::ldexp(1.0 + static_cast<double>(rng() % 1000) / 1000, static_cast<int>(rng() % 200) - 100));
    }
  }
  return v;
}

const std::string Separators[] = {",", ",\n    "};

template <class F>
void check_rows(const std::vector<F>& values) {
  for (const Table& t : tables()) {
    for (const std::string& sep : Separators) {
      // Every start and length up to a few blocks, then the whole list.
      for (size_t start = 0; start < 3 && start < values.size(); ++start) {
        for (size_t n = 0; n <= 40 && start + n <= values.size(); ++n) {
          const std::vector<F> part(values.begin() + static_cast<ptrdiff_t>(start),
                                    values.begin() + static_cast<ptrdiff_t>(start + n));
          ASSERT_EQ(row_text(routine<F>(t.routine), part, sep), expected_row(part, sep))
              << t.name << " start " << start << " n " << n;
        }
      }
      const std::string got = row_text(routine<F>(t.routine), values, sep);
      const std::string want = expected_row(values, sep);
      if (got != want) {
        // Name the first value that differs.
        for (F v : values) {
          const std::vector<F> one{v};
          ASSERT_EQ(row_text(routine<F>(t.routine), one, sep), expected_row(one, sep))
              << t.name << " bits " << std::hex << static_cast<uint64_t>(std::bit_cast<Bits<F>>(v));
        }
        FAIL() << t.name << ": rows differ, values alone agree";
      }
    }
  }
}

TEST(FloatRow, FormsList) {
  EXPECT_EQ(vellum::test::list_problems(vellum::float_row_forms, vellum::float_row_routines), "");
}

TEST(FloatRow, EdgeDoubles) { check_rows(edge_values<double>()); }
TEST(FloatRow, EdgeSingles) { check_rows(edge_values<float>()); }

TEST(FloatRow, RandomDoubles) { check_rows(random_values<double>(vellum::test::scaled(200000), 1)); }
TEST(FloatRow, RandomSingles) { check_rows(random_values<float>(vellum::test::scaled(200000), 2)); }

// The values read end at an inaccessible page: no form reads past them.
TEST(FloatRow, ReadsOnlyItsValues) {
  vellum::test::GuardedPage in;
  ASSERT_TRUE(in.ok());
  const std::vector<double> doubles = random_values<double>(40, 3);
  const std::vector<float> singles = random_values<float>(40, 4);
  for (const Table& t : tables()) {
    for (size_t n = 0; n <= 40; ++n) {
      uint8_t* src = in.last(8 * n);
      std::memcpy(src, doubles.data(), 8 * n);
      std::vector<uint8_t> dst(n * 25 + vellum::FloatOverhang);
      const vellum::Separator sep{reinterpret_cast<const uint8_t*>(","), 1};
      t.routine.f64_row(dst.data(), src, n, sep);
      src = in.last(4 * n);
      std::memcpy(src, singles.data(), 4 * n);
      t.routine.f32_row(dst.data(), src, n, sep);
    }
  }
}

}  // namespace
