#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/cpu_features.hpp"
#include "kernels/escape/escape.hpp"
#include "kernels/escape/escape_table.hpp"

#include "tests/cpp/guard_pages.hpp"
#include "tests/cpp/test_scale.hpp"
#include "tests/cpp/forms.hpp"
#include "tests/oracle/text.hpp"

namespace {

using vellum::EscapeFn;
using Bytes = std::vector<uint8_t>;
using Form = vellum::test::Form<EscapeFn>;

using vellum::test::test_scale;

std::vector<Form> forms() { return vellum::test::forms(vellum::escape_forms, &vellum::EscapeRoutines::escape_string); }

std::string reference(const Bytes& in) { return vellum::oracle::escape_json(in.data(), in.size()); }

constexpr uint8_t Untouched = 0xEE;

// Runs a form with an exactly sized heap source and an output of exactly the
// reservation, so that the sanitizers see any access outside either; checks
// that nothing beyond count + 32 was stored.
std::string run(const Form& form, const Bytes& in) {
  const size_t n = in.size();
  std::unique_ptr<uint8_t[]> src(new uint8_t[n]);
  if (n) std::memcpy(src.get(), in.data(), n);
  const size_t cap = vellum::escape_reservation(n);
  std::unique_ptr<uint8_t[]> dst(new uint8_t[cap]);
  std::memset(dst.get(), Untouched, cap);
  const size_t count = form.routine(dst.get(), src.get(), n);
  EXPECT_LE(count, cap) << form.name << " n=" << n;
  for (size_t i = count + 32; i < cap; ++i) {
    if (dst[i] != Untouched) {
      ADD_FAILURE() << form.name << " n=" << n << ": stored at " << i << ", count " << count;
      break;
    }
  }
  return std::string(reinterpret_cast<const char*>(dst.get()), std::min(count, cap));
}

void expect_all_forms(const Bytes& in) {
  const std::string want = reference(in);
  for (const Form& f : forms()) {
    const std::string got = run(f, in);
    if (got != want) {
      ADD_FAILURE() << f.name << " n=" << in.size() << "\n got: " << got << "\nwant: " << want;
      return;
    }
  }
}

Bytes ascii(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>('A' + i % 26);
  return b;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(EscapeTable, EntriesAreTheJsonEscapes) {
  for (unsigned b = 0; b < 96; ++b) {
    const auto& e = vellum::EscapeTable[b];
    const Bytes one{static_cast<uint8_t>(b)};
    if (!vellum::needs_escape(static_cast<uint8_t>(b))) {
      EXPECT_EQ(e, vellum::EscapeEntry{}) << b;
      continue;
    }
    const std::string want = reference(one).substr(1, reference(one).size() - 2);
    ASSERT_EQ(e[7], want.size()) << b;
    EXPECT_EQ(std::string(e.begin(), e.begin() + e[7]), want) << b;
    // Padding: ASCII zeros after two-character escapes, NUL after \u00XX.
    const uint8_t pad = e[7] == 2 ? '0' : 0;
    for (unsigned i = e[7]; i < 7; ++i) EXPECT_EQ(e[i], pad) << b << " byte " << i;
  }
  EXPECT_EQ(vellum::EscapeTable[0x1F], (vellum::EscapeEntry{'\\', 'u', '0', '0', '1', 'f', 0, 6}));
  EXPECT_EQ(vellum::EscapeTable['\n'], (vellum::EscapeEntry{'\\', 'n', '0', '0', '0', '0', '0', 2}));
}

TEST(EscapeTable, NeedsEscapeMarksControlQuoteBackslash) {
  for (unsigned b = 0; b < 256; ++b)
    EXPECT_EQ(vellum::NeedsEscapeTable[b] != 0, b < 0x20 || b == 0x22 || b == 0x5C) << b;
}

TEST(Escape, FormsAndTheChoice) {
  EXPECT_EQ(vellum::test::list_problems(vellum::escape_forms, vellum::escape_routines), "");
}

TEST(Escape, EdgeCases) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"", "\"\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {std::string(1, '\x1f'), "\"\\u001f\""},
      {std::string(1, '\x0b'), "\"\\u000b\""},
      {std::string(1, '\0'), "\"\\u0000\""},
      {"\x7f", "\"\x7f\""},
      {"/", "\"/\""},
      {"\xc3\xa9", "\"\xc3\xa9\""},
      {"\xe2\x80\xa8\xe2\x80\xa9", "\"\xe2\x80\xa8\xe2\x80\xa9\""},
      {"\b\t\n\f\r", "\"\\b\\t\\n\\f\\r\""},
  };
  for (const Case& c : cases)
    for (const Form& f : forms()) EXPECT_EQ(run(f, text(c.in)), c.out) << f.name;
}

// Each escapable kind and each multi-byte character at every position of
// every length up to 300, which crosses every block and tail boundary.
TEST(Escape, EveryLengthEveryPosition) {
  const std::string inserts[] = {"\"", "\\", "\n", std::string(1, '\0'), "\x1f", "\xc3\xa9",
                                 "\xe2\x80\xa8", "\xf0\x9f\x98\x80", "\"\""};
  for (size_t n = 0; n <= 300; ++n) {
    expect_all_forms(ascii(n));
    for (const std::string& ins : inserts) {
      for (size_t p = 0; p + ins.size() <= n; ++p) {
        Bytes b = ascii(n);
        std::memcpy(b.data() + p, ins.data(), ins.size());
        expect_all_forms(b);
        if (HasFailure()) return;
      }
    }
  }
}

// Every byte value at every position for lengths around the block sizes.
TEST(Escape, EveryByteEveryPosition) {
  for (size_t n : {1, 2, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 129}) {
    for (size_t p = 0; p < n; ++p) {
      for (unsigned v = 0; v < 256; ++v) {
        Bytes b = ascii(n);
        b[p] = static_cast<uint8_t>(v);
        expect_all_forms(b);
        if (HasFailure()) return;
      }
    }
  }
}

// Two escapes at every pair of positions exercise the restart after an
// escape and several escapes within one tail.
TEST(Escape, PairsOfEscapes) {
  for (size_t n : {15, 16, 17, 33, 47, 70}) {
    for (size_t p = 0; p < n; ++p) {
      for (size_t q = p; q < n; ++q) {
        Bytes b = ascii(n);
        b[p] = '\n';
        b[q] = static_cast<uint8_t>(q == p ? 1 : '"');
        expect_all_forms(b);
        if (HasFailure()) return;
      }
    }
  }
}

// Six output bytes per input byte: the worst case stays inside 8n + 32.
TEST(Escape, AllControlCharactersFitTheReservation) {
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 300; ++n) lengths.push_back(n);
  lengths.push_back(4096);
  lengths.push_back(4099);
  for (size_t n : lengths) {
    // Control characters without a two-character escape.
    static constexpr uint8_t six[] = {0x00, 0x01, 0x07, 0x0B, 0x0E, 0x1A, 0x1F};
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = six[i % sizeof six];
    expect_all_forms(b);
    for (const Form& f : forms()) EXPECT_EQ(run(f, b).size(), 6 * n + 2) << f.name;
  }
}

TEST(Escape, RandomText) {
  std::mt19937_64 rng(12345);
  const int rounds = static_cast<int>(3000 * test_scale()) + 1;
  for (int r = 0; r < rounds; ++r) {
    const size_t n = rng() % (r % 10 == 0 ? 5000 : 200);
    const unsigned density = static_cast<unsigned>(rng() % 5);  // none, 1%, 10%, 50%, all kinds of bytes
    Bytes b(n);
    for (auto& c : b) {
      const unsigned x = static_cast<unsigned>(rng() % 100);
      const bool special = (density == 1 && x < 1) || (density == 2 && x < 10) || (density == 3 && x < 50);
      if (density == 4)
        c = static_cast<uint8_t>(rng());
      else if (special)
        c = "\"\\\n\x01\x1f"[rng() % 5];
      else
        c = static_cast<uint8_t>(0x20 + rng() % 0x5F);
    }
    expect_all_forms(b);
    if (HasFailure()) return;
  }
}

// Sources that end at (or start at) an inaccessible page: any read outside
// the source faults even without sanitizers, also for the native masked loads.
TEST(Escape, SourceAtPageBoundaries) {
  const vellum::test::GuardedPage page;
  ASSERT_TRUE(page.ok());
  std::vector<uint8_t> out(vellum::escape_reservation(page.size()));
  for (size_t n = 0; n <= 200; ++n) {
    for (uint8_t* src : {page.data(), page.last(n)}) {
      for (size_t i = 0; i < n; ++i) src[i] = static_cast<uint8_t>(i % 7 == 3 ? '"' : 'a' + i % 26);
      const std::string want = reference(Bytes(src, src + n));
      for (const Form& f : forms()) {
        const size_t count = f.routine(out.data(), src, n);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()), count), want) << f.name << " n=" << n;
      }
    }
  }
}

}  // namespace
