#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/cpu_features.hpp"
#include "kernels/utf8/utf8_decode.hpp"
#include "kernels/utf8/utf8_count.hpp"
#include "kernels/utf8/utf8_routines.hpp"
#include "kernels/utf8/utf8_shape.hpp"

#include "tests/cpp/guard_pages.hpp"
#include "tests/cpp/test_scale.hpp"
#include "tests/cpp/forms.hpp"
#include "tests/oracle/text.hpp"

namespace {

using Bytes = std::vector<uint8_t>;
using vellum::Utf8Shape;
using ShapeFn = Utf8Shape (*)(const uint8_t*, size_t);

using vellum::test::test_scale;

std::vector<vellum::test::Form<ShapeFn>> forms() {
  auto f = vellum::test::forms(vellum::utf8_forms, &vellum::Utf8Routines::shape);
  f.push_back({"selected", vellum::utf8_routines.shape, false});
  return f;
}

void encode(std::u32string_view cps, Bytes& out) {
  for (char32_t c : cps) vellum::oracle::append_utf8(out, static_cast<uint32_t>(c));
}

std::u32string reference_decode(const Bytes& b) {
  const std::vector<uint32_t> cps = vellum::oracle::utf8_code_points(b.data(), b.size());
  return std::u32string(cps.begin(), cps.end());
}

// The canonical width bound from the decoded characters themselves.
Utf8Shape reference_shape(const std::u32string& cps) {
  char32_t top = 0;
  for (char32_t c : cps) top = c > top ? c : top;
  const uint32_t bound = top < 0x80 ? 0x7F : top < 0x100 ? 0xFF : top < 0x10000 ? 0xFFFF : 0x10FFFF;
  return {cps.size(), bound};
}

// Every form's decoder, and the plain one they are the twins of.
std::vector<vellum::test::Form<vellum::Utf8DecodeFn>> decoders() {
  auto f = vellum::test::forms(vellum::utf8_forms, &vellum::Utf8Routines::decode);
  f.push_back({"by_char", &vellum::utf8_decode_by_char, false});
  return f;
}

template <typename Unit>
std::u32string decode_as(vellum::Utf8DecodeFn decode, const uint8_t* src, size_t n, size_t chars) {
  // Exactly sized so that the sanitizers see any store past the last unit.
  std::unique_ptr<Unit[]> dst(new Unit[chars]);
  decode(src, n, dst.get(), sizeof(Unit));
  return std::u32string(dst.get(), dst.get() + chars);
}

void check_at(const uint8_t* src, const Bytes& in) {
  const std::u32string cps = reference_decode(in);
  const Utf8Shape want = reference_shape(cps);
  for (const auto& f : forms()) {
    const Utf8Shape got = f.routine(src, in.size());
    if (got.chars != want.chars || got.max_char != want.max_char) {
      ADD_FAILURE() << f.name << " n=" << in.size() << ": got {" << got.chars << ", " << got.max_char
                    << "}, want {" << want.chars << ", " << want.max_char << "}";
      return;
    }
  }
  for (const auto& d : decoders()) {
    if (want.max_char <= 0xFF && decode_as<uint8_t>(d.routine, src, in.size(), want.chars) != cps)
      ADD_FAILURE() << d.name << " kind 1, n=" << in.size();
    if (want.max_char <= 0xFFFF && decode_as<uint16_t>(d.routine, src, in.size(), want.chars) != cps)
      ADD_FAILURE() << d.name << " kind 2, n=" << in.size();
    if (decode_as<uint32_t>(d.routine, src, in.size(), want.chars) != cps)
      ADD_FAILURE() << d.name << " kind 4, n=" << in.size();
  }
}

void check(const Bytes& in) {
  std::unique_ptr<uint8_t[]> src(new uint8_t[in.size()]);
  if (!in.empty()) std::memcpy(src.get(), in.data(), in.size());
  check_at(src.get(), in);
}

// m bytes of valid filler: ASCII, or two-byte characters (one ASCII byte
// when m is odd).
void filler(Bytes& out, size_t m, bool latin) {
  for (size_t i = 0; i < m; ++i) {
    if (latin && i + 1 < m) {
      encode(U"\u00e9", out);
      ++i;
    } else {
      out.push_back(static_cast<uint8_t>('a' + i % 26));
    }
  }
}

TEST(Utf8Routines, FormsAndTheChoice) {
  EXPECT_EQ(vellum::test::list_problems(vellum::utf8_forms, vellum::utf8_routines), "");
}

TEST(Utf8Shape, EdgeCases) {
  struct Case {
    Bytes in;
    size_t chars;
    uint32_t max_char;
  };
  const Case cases[] = {
      {Bytes(300, 'x'), 300, 0x7F},
      {{}, 0, 0x7F},
      {{0xC3, 0xA9}, 1, 0xFF},
      {{'a', 0xC4, 0x80}, 2, 0xFFFF},
      {{'a', 0xF0, 0x9F, 0x98, 0x80}, 2, 0x10FFFF},
      {{0xF0, 0x9F, 0x98, 0x80, 'a'}, 2, 0x10FFFF},  // settled by the first byte
      {{0xC2, 0x80, 0xC3, 0xBF}, 2, 0xFF},
      {{0xDF, 0xBF}, 1, 0xFFFF},
      {{0xEF, 0xBF, 0xBF}, 1, 0xFFFF},
      {{'a', 0, 'b'}, 3, 0x7F},
  };
  for (const Case& c : cases) {
    for (const auto& f : forms()) {
      std::unique_ptr<uint8_t[]> src(new uint8_t[c.in.size()]);
      if (!c.in.empty()) std::memcpy(src.get(), c.in.data(), c.in.size());
      const Utf8Shape s = f.routine(src.get(), c.in.size());
      EXPECT_EQ(s.chars, c.chars) << f.name;
      EXPECT_EQ(s.max_char, c.max_char) << f.name;
    }
    check(c.in);
  }
}

TEST(Utf8Decode, NulByteIsACharacter) {
  const Bytes in{'a', 0, 0xC3, 0xA9};
  const std::u32string want{U'a', 0, 0xE9};
  for (const auto& d : decoders()) {
    EXPECT_EQ(decode_as<uint8_t>(d.routine, in.data(), in.size(), 3), want) << d.name;
    EXPECT_EQ(decode_as<uint16_t>(d.routine, in.data(), in.size(), 3), want) << d.name;
    EXPECT_EQ(decode_as<uint32_t>(d.routine, in.data(), in.size(), 3), want) << d.name;
  }
}

// One character of each encoded length and width class at every byte
// position of every length up to 300, in ASCII and in non-ASCII filler.
TEST(Utf8Shape, EveryLengthEveryPosition) {
  const std::vector<char32_t> all{0x00, 0x7F, 0x80, 0xE9, 0xFF, 0x100, 0x7FF, 0x800, 0x2028, 0xFFFF, 0x10000, 0x1F600, 0x10FFFF};
  // One of each encoded length and width when scaled down (sanitizer runs).
  const std::vector<char32_t> chars = test_scale() < 1 ? std::vector<char32_t>{0xE9, 0x100, 0x800, 0x1F600} : all;
  for (size_t n = 0; n <= 300; ++n) {
    for (bool latin : {false, true}) {
      Bytes plain;
      filler(plain, n, latin);
      check(plain);
      for (char32_t c : chars) {
        Bytes enc;
        encode(std::u32string(1, c), enc);
        for (size_t p = 0; p + enc.size() <= n; ++p) {
          Bytes b;
          filler(b, p, latin);
          b.insert(b.end(), enc.begin(), enc.end());
          filler(b, n - p - enc.size(), latin);
          check(b);
        }
        if (HasFailure()) return;
      }
    }
  }
}

std::u32string random_text(std::mt19937_64& rng, size_t count) {
  // Per text a mixture of ASCII, U+0080..U+00FF, the rest of the BMP and
  // characters above it, in random proportions.
  unsigned weights[4];
  for (auto& w : weights) w = static_cast<unsigned>(rng() % 4 == 0 ? 0 : rng() % 100 + 1);
  if (weights[0] + weights[1] + weights[2] + weights[3] == 0) weights[0] = 1;
  std::discrete_distribution<int> pick(std::begin(weights), std::end(weights));
  std::u32string s;
  for (size_t i = 0; i < count; ++i) {
    char32_t c;
    switch (pick(rng)) {
      case 0: c = static_cast<char32_t>(rng() % 0x80); break;
      case 1: c = static_cast<char32_t>(0x80 + rng() % 0x80); break;
      case 2:
        c = static_cast<char32_t>(0x100 + rng() % (0x10000 - 0x100));
        if (c >= 0xD800 && c < 0xE000) c -= 0x800;
        break;
      default: c = static_cast<char32_t>(0x10000 + rng() % 0x100000); break;
    }
    s.push_back(c);
  }
  return s;
}

TEST(Utf8Shape, RandomText) {
  std::mt19937_64 rng(99);
  const int rounds = static_cast<int>(4000 * test_scale()) + 1;
  for (int r = 0; r < rounds; ++r) {
    Bytes b;
    encode(random_text(rng, rng() % 200), b);
    check(b);
    if (HasFailure()) return;
  }
}

// Longer than a counter round of the widest vectors.
TEST(Utf8Shape, LongInputs) {
  std::mt19937_64 rng(5);
  for (size_t count : {9000u, 17000u, 40000u}) {
    Bytes b;
    encode(random_text(rng, count), b);
    check(b);
    Bytes plain(count * 2 + 1, 'q');
    check(plain);
    Bytes latin;
    filler(latin, count * 2 + 1, true);
    check(latin);
  }
}

TEST(Utf8Shape, SourceAtPageBoundaries) {
  const vellum::test::GuardedPage page;
  ASSERT_TRUE(page.ok());
  std::mt19937_64 rng(3);
  for (size_t n = 0; n <= 300; ++n) {
    Bytes b;
    while (b.size() < n) {
      Bytes one;
      encode(random_text(rng, 1), one);
      if (b.size() + one.size() > n) one.assign(1, 'z');
      b.insert(b.end(), one.begin(), one.end());
    }
    for (uint8_t* src : {page.data(), page.last(n)}) {
      if (n) std::memcpy(src, b.data(), n);
      check_at(src, b);
    }
    if (HasFailure()) break;
  }
}

}  // namespace
