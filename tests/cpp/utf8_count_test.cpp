#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "kernels/utf8/utf8_count.hpp"
#include "kernels/utf8/utf8_routines.hpp"

#include "tests/cpp/guard_pages.hpp"
#include "tests/cpp/test_scale.hpp"
#include "tests/cpp/forms.hpp"

namespace {

using Bytes = std::vector<uint8_t>;
using CountFn = size_t (*)(const uint8_t*, size_t);

using vellum::test::test_scale;

std::vector<vellum::test::Form<CountFn>> forms() {
  auto f = vellum::test::forms(vellum::utf8_forms, &vellum::Utf8Routines::count_chars);
  f.push_back({"selected", vellum::utf8_routines.count_chars, false});
  return f;
}

size_t reference(const Bytes& b) {
  size_t n = 0;
  for (uint8_t c : b) n += !(c >= 0x80 && c <= 0xBF);
  return n;
}

// Counting is defined on any bytes, so the inputs need not be valid UTF-8.
// The source is an exactly sized heap block for the sanitizers.
void expect_all_forms(const Bytes& in) {
  const size_t want = reference(in);
  std::unique_ptr<uint8_t[]> src(new uint8_t[in.size()]);
  if (!in.empty()) std::memcpy(src.get(), in.data(), in.size());
  for (const auto& f : forms()) {
    const size_t got = f.routine(src.get(), in.size());
    if (got != want) {
      ADD_FAILURE() << f.name << " n=" << in.size() << ": got " << got << ", want " << want;
      return;
    }
  }
}

TEST(Utf8Count, EveryLengthEveryByteEveryPosition) {
  const uint8_t fills[] = {'a', 0x80, 0xBF, 0xC3};
  for (size_t n = 0; n <= 300; ++n) {
    for (uint8_t fill : fills) {
      expect_all_forms(Bytes(n, fill));
      for (size_t p = 0; p < n; ++p) {
        for (unsigned v : {0x00u, 0x7Fu, 0x80u, 0xBFu, 0xC0u, 0xFFu}) {
          Bytes b(n, fill);
          b[p] = static_cast<uint8_t>(v);
          expect_all_forms(b);
        }
        if (HasFailure()) return;
      }
    }
  }
}

TEST(Utf8Count, RandomBytes) {
  std::mt19937_64 rng(7);
  const int rounds = static_cast<int>(3000 * test_scale()) + 1;
  for (int r = 0; r < rounds; ++r) {
    Bytes b(rng() % (r % 20 == 0 ? 20000 : 400));
    for (auto& c : b) c = static_cast<uint8_t>(rng());
    expect_all_forms(b);
    if (HasFailure()) return;
  }
}

// Long runs where every byte starts a character fill each lane counter to
// its limit between flushes; lengths around multiples of the round sizes.
TEST(Utf8Count, LongInputsCrossCounterFlushes) {
  for (size_t n : {4080u, 4081u, 8159u, 8160u, 8161u, 16319u, 16320u, 16321u, 16352u, 32640u, 32641u, 100003u}) {
    for (uint8_t fill : {uint8_t{'x'}, uint8_t{0xC3}, uint8_t{0x80}}) {
      Bytes b(n, fill);
      expect_all_forms(b);
      b[n / 2] = 0xA9;
      b[n - 1] = 0xA9;
      expect_all_forms(b);
    }
  }
}

TEST(Utf8Count, SourceAtPageBoundaries) {
  const vellum::test::GuardedPage page;
  ASSERT_TRUE(page.ok());
  for (size_t i = 0; i < page.size(); ++i) page.data()[i] = static_cast<uint8_t>(i * 37);
  for (size_t n = 0; n <= 300; ++n) {
    for (const uint8_t* src : {page.data(), page.last(n)}) {
      const size_t want = reference(Bytes(src, src + n));
      for (const auto& f : forms()) EXPECT_EQ(f.routine(src, n), want) << f.name << " n=" << n;
    }
  }
}

}  // namespace
