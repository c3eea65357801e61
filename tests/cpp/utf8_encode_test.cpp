#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "kernels/utf8/utf8_encode.hpp"

#include "tests/cpp/test_scale.hpp"
#include "tests/oracle/text.hpp"

namespace {

using vellum::test::scaled;

// Encodes the code points as units of `kind` bytes, each in an exactly
// sized block (for the sanitizers), and compares with the reference.
void expect_encoded(const std::vector<uint32_t>& cps, unsigned kind) {
  const size_t n = cps.size();
  std::unique_ptr<uint8_t[]> units(new uint8_t[n * kind + 1]);
  bool surrogate = false;
  std::string want;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t cp = cps[i];
    if (kind == 1) units[i] = static_cast<uint8_t>(cp);
    if (kind == 2) reinterpret_cast<uint16_t*>(units.get())[i] = static_cast<uint16_t>(cp);
    if (kind == 4) reinterpret_cast<uint32_t*>(units.get())[i] = cp;
    surrogate = surrogate || (cp >= 0xD800 && cp <= 0xDFFF);
    vellum::oracle::append_utf8(want, cp);
  }
  const size_t bound = vellum::utf8_bound(n, kind);
  std::unique_ptr<uint8_t[]> out(new uint8_t[bound + 1]);
  const size_t got = vellum::utf8_encode(units.get(), n, kind, out.get());
  if (surrogate) {
    EXPECT_EQ(got, vellum::Utf8Unencodable) << "kind " << kind << " n=" << n;
    return;
  }
  ASSERT_NE(got, vellum::Utf8Unencodable) << "kind " << kind << " n=" << n;
  ASSERT_LE(got, bound);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.get()), got), want) << "kind " << kind << " n=" << n;
}

// Each kind's widest character and its edges, at every position of ASCII
// runs that cross the 16-unit blocks.
TEST(Utf8Encode, EveryEdgeAtEveryPosition) {
  const struct {
    unsigned kind;
    std::vector<uint32_t> chars;
  } kinds[] = {
      {1, {0x7F, 0x80, 0xE9, 0xFF}},
      {2, {0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFF}},
      {4, {0x7F, 0x80, 0x7FF, 0x800, 0xD800, 0xDFFF, 0xFFFF, 0x10000, 0x10FFFF}},
  };
  for (const auto& k : kinds) {
    for (size_t n = 0; n <= 70; ++n) {
      expect_encoded(std::vector<uint32_t>(n, 'a'), k.kind);
      for (size_t p = 0; p < n; ++p) {
        for (uint32_t c : k.chars) {
          std::vector<uint32_t> cps(n, 'a');
          cps[p] = c;
          expect_encoded(cps, k.kind);
        }
      }
    }
  }
}

// Runs of ASCII and of each width, mixed at random.
TEST(Utf8Encode, RandomMixes) {
  std::mt19937_64 rng(11);
  const uint32_t limits[] = {0, 0xFF, 0xFFFF, 0, 0x10FFFF};
  for (unsigned kind : {1u, 2u, 4u}) {
    for (size_t round = 0; round < scaled(2000); ++round) {
      std::vector<uint32_t> cps;
      const size_t n = rng() % 200;
      const bool ascii_runs = rng() % 2;
      while (cps.size() < n) {
        const bool ascii = ascii_runs && rng() % 2;
        for (size_t run = rng() % 40; run > 0 && cps.size() < n; --run) {
          uint32_t cp = ascii ? rng() % 0x80 : rng() % (limits[kind] + 1);
          if (cp >= 0xD800 && cp <= 0xDFFF && rng() % 64 != 0) cp = 0xE000;  // a surrogate now and then
          cps.push_back(cp);
        }
      }
      expect_encoded(cps, kind);
    }
  }
}

}  // namespace
