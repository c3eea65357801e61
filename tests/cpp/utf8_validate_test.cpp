// The validators against each other and against the interpreter's strict
// UTF-8 decoder. Inputs live in heap buffers of exactly their size, so the
// sanitizer build catches any read outside them.
#include "kernels/utf8/validate.hpp"

#include "kernels/utf8/utf8_routines.hpp"

#include <Python.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/cpu_features.hpp"

#include "tests/cpp/corpus.hpp"
#include "tests/cpp/forms.hpp"
#include "tests/cpp/test_scale.hpp"
#include "tests/oracle/text.hpp"

namespace {

using vellum::oracle::append_utf8;

double test_scale() { return std::min(vellum::test::test_scale(), 1.0); }

// 1 in `stride` of the cases in a loop, at least every case when scale is 1.
size_t scaled_stride(size_t base_stride) {
  return std::max<size_t>(1, static_cast<size_t>(static_cast<double>(base_stride) / test_scale() + 0.5));
}

struct Verdict {
  bool valid;
  size_t prefix;  // longest valid prefix
  bool operator==(const Verdict&) const = default;
};

// The interpreter's strict decoder: the error's start is where the longest
// valid prefix ends.
Verdict python_verdict(const uint8_t* p, size_t n) {
  if (!Py_IsInitialized()) Py_Initialize();
  PyObject* s = PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(p), static_cast<Py_ssize_t>(n), "strict");
  if (s != nullptr) {
    Py_DECREF(s);
    return {true, n};
  }
  PyObject* exc = PyErr_GetRaisedException();
  Py_ssize_t start = -1;
  if (exc == nullptr || !PyObject_TypeCheck(exc, reinterpret_cast<PyTypeObject*>(PyExc_UnicodeDecodeError)) ||
      PyUnicodeDecodeError_GetStart(exc, &start) != 0) {
    PyErr_Clear();
    start = -1;
  }
  Py_XDECREF(exc);
  return {false, static_cast<size_t>(start)};
}


// The same decoder without exception objects, for the large sweeps: "ignore"
// drops exactly the ill-formed parts, so the decoded characters re-encode to
// the input up to the first of them; nothing there can re-encode to the
// input's own bytes, or the decoder would have taken them as that character.
Verdict python_verdict_ignoring(const uint8_t* p, size_t n) {
  if (!Py_IsInitialized()) Py_Initialize();
  PyObject* s = PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(p), static_cast<Py_ssize_t>(n), "ignore");
  if (s == nullptr) {
    PyErr_Clear();
    return {false, static_cast<size_t>(-1)};
  }
  const Py_ssize_t chars = PyUnicode_GetLength(s);
  size_t at = 0;
  std::vector<uint8_t> one;
  for (Py_ssize_t i = 0; i < chars; ++i) {
    one.clear();
    append_utf8(one, PyUnicode_ReadChar(s, i));
    if (n - at < one.size() || !std::equal(one.begin(), one.end(), p + at)) break;
    at += one.size();
  }
  Py_DECREF(s);
  return {at == n, at};
}

// Shuts the interpreter down after the last test, so that the leak checker
// of the sanitizer build sees its memory released.
class PythonEnvironment : public ::testing::Environment {
 public:
  void TearDown() override {
    if (Py_IsInitialized()) Py_FinalizeEx();
  }
};
const auto* const python_environment = ::testing::AddGlobalTestEnvironment(new PythonEnvironment);

// One heap allocation per length, reused.
class ExactBuffers {
 public:
  uint8_t* get(const uint8_t* data, size_t n) {
    if (by_size_.size() <= n) by_size_.resize(n + 1);
    if (!by_size_[n]) by_size_[n] = std::make_unique<uint8_t[]>(n);
    std::copy(data, data + n, by_size_[n].get());
    return by_size_[n].get();
  }

 private:
  std::vector<std::unique_ptr<uint8_t[]>> by_size_;
};

std::string hex(const uint8_t* p, size_t n) {
  std::string out;
  char b[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02X ", p[i]);
    out += b;
  }
  return out;
}

// Runs every implementation on one input and keeps the first few disagreements.
class Checker {
 public:
  Checker() : forms_(vellum::test::forms(vellum::utf8_forms, &vellum::Utf8Routines::validate)) {
    forms_.push_back({"selected", vellum::utf8_routines.validate, false});
  }

  // The SIMDe builds only `with_simde`: they are slow.
  void check(const uint8_t* data, size_t n, Verdict want, bool with_simde) {
    const uint8_t* p = buffers_.get(data, n);
    ++checked_;
    const size_t prefix = vellum::valid_utf8_prefix(p, n);
    if (prefix != want.prefix) fail(p, n, "valid_utf8_prefix", prefix, want.prefix);
    simde_checked_ += with_simde;
    for (const auto& f : forms_) {
      if (f.simde && !with_simde) continue;
      const bool v = f.routine(p, n);
      if (v != want.valid) fail(p, n, f.name.c_str(), v, want.valid);
    }
  }

  // Against the interpreter directly.
  void check_python(const uint8_t* data, size_t n, bool with_simde) { check(data, n, python_verdict(data, n), with_simde); }

  size_t failures() const { return failures_; }
  size_t checked() const { return checked_; }
  size_t simde_checked() const { return simde_checked_; }
  const std::string& report() const { return report_; }

 private:
  void fail(const uint8_t* p, size_t n, const char* who, size_t got, size_t want) {
    if (failures_++ < 8) {
      report_ += std::string(who) + " gave " + std::to_string(got) + ", want " + std::to_string(want) + " for [" +
                 std::to_string(n) + "] " + (n <= 80 ? hex(p, n) : hex(p, 80) + "...") + "\n";
    }
  }

  std::vector<vellum::test::Form<bool (*)(const uint8_t*, size_t)>> forms_;
  ExactBuffers buffers_;
  size_t checked_ = 0, simde_checked_ = 0, failures_ = 0;
  std::string report_;
};

#define EXPECT_NO_MISMATCH(checker) \
  EXPECT_EQ((checker).failures(), 0u) << (checker).report() << "(" << (checker).checked() << " inputs)"

// Byte values at the edges of every range that the well-formedness rules tell apart.
constexpr uint8_t EdgeBytes[] = {0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1,
                                  0xC2, 0xDF, 0xE0, 0xE1, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};

// `seq` placed so that it ends at, straddles and starts at each of the
// 16-, 32- and 64-byte boundaries, then either ending the input or followed
// by ASCII running past the next 64-byte block. ASCII around a byte sequence
// never changes whether it is valid, so the standalone verdict carries over.
class Embedder {
 public:
  void run(Checker& c, const uint8_t* seq, size_t len, Verdict standalone, size_t simde_stride,
           std::initializer_list<size_t> afters = {0, 1, 70}) {
    std::vector<size_t> offsets = {0, 1};
    for (size_t boundary : {16, 32, 48, 64, 128}) {
      for (size_t o = boundary - std::min(boundary, len); o <= boundary; ++o) offsets.push_back(o);
    }
    for (size_t o : offsets) {
      for (size_t after : afters) {
        const size_t n = o + len + after;
        if (buf_.size() < n) buf_.resize(n);
        for (size_t i = 0; i < o; ++i) buf_[i] = Pad[i % sizeof Pad];
        std::copy(seq, seq + len, buf_.begin() + static_cast<ptrdiff_t>(o));
        for (size_t i = o + len; i < n; ++i) buf_[i] = Pad[i % sizeof Pad];
        const Verdict want = standalone.valid ? Verdict{true, n} : Verdict{false, o + standalone.prefix};
        c.check(buf_.data(), n, want, ++count_ % simde_stride == 0);
      }
    }
  }

 private:
  static constexpr uint8_t Pad[] = {'a', ' ', '"', 0x00, 0x7F, '{', '9', '\n'};
  std::vector<uint8_t> buf_;
  size_t count_ = 0;
};

TEST(Utf8Validate, EmptyInputIsValid) {
  Checker c;
  c.check(nullptr, 0, {true, 0}, true);
  EXPECT_NO_MISMATCH(c);
}

TEST(Utf8Validate, EveryOneAndTwoByteSequence) {
  Checker c;
  Embedder e;
  const size_t embed_stride = scaled_stride(1);
  const size_t simde_embed_stride = scaled_stride(4);
  size_t oracle_disagreements = 0;
  uint8_t s[2];
  for (unsigned a = 0; a < 256; ++a) {
    s[0] = static_cast<uint8_t>(a);
    const Verdict v = python_verdict(s, 1);
    if (python_verdict_ignoring(s, 1) != v) ++oracle_disagreements;
    c.check(s, 1, v, true);
    e.run(c, s, 1, v, 1);
  }
  for (unsigned x = 0; x < 65536; ++x) {
    s[0] = static_cast<uint8_t>(x >> 8);
    s[1] = static_cast<uint8_t>(x);
    const Verdict v = python_verdict(s, 2);
    if (python_verdict_ignoring(s, 2) != v) ++oracle_disagreements;
    c.check(s, 2, v, true);
    if (x % embed_stride == 0) e.run(c, s, 2, v, simde_embed_stride);
  }
  EXPECT_NO_MISMATCH(c);
  EXPECT_EQ(oracle_disagreements, 0u) << "the two ways of asking the interpreter disagree";
}

// All 2^24 inputs alone; the portable vector twin on a spread sample.
TEST(Utf8Validate, EveryThreeByteSequence) {
  Checker c;
  const size_t stride = scaled_stride(1);
  const size_t simde_stride = scaled_stride(16);
  uint8_t s[3];
  size_t k = 0;
  for (uint32_t x = 0; x < (1u << 24); x += static_cast<uint32_t>(stride)) {
    // An odd multiplier permutes the space, so a strided run still sees every byte value in every place.
    const uint32_t y = (x * 0x9E3779B1u) & 0xFFFFFFu;
    s[0] = static_cast<uint8_t>(y >> 16);
    s[1] = static_cast<uint8_t>(y >> 8);
    s[2] = static_cast<uint8_t>(y);
    c.check(s, 3, python_verdict_ignoring(s, 3), ++k % simde_stride == 0);
  }
  EXPECT_NO_MISMATCH(c);
  EXPECT_GT(c.simde_checked(), 0u);
}

TEST(Utf8Validate, EdgeByteSequencesOfThreeAndFour) {
  Checker c;
  Embedder e;
  constexpr size_t Edges = std::size(EdgeBytes);
  const size_t embed_stride = scaled_stride(1);
  const size_t simde_embed_stride = scaled_stride(32);
  size_t oracle_disagreements = 0;
  uint8_t s[4];
  size_t k = 0;
  for (size_t a = 0; a < Edges; ++a) {
    for (size_t b = 0; b < Edges; ++b) {
      for (size_t d = 0; d < Edges; ++d) {
        s[0] = EdgeBytes[a];
        s[1] = EdgeBytes[b];
        s[2] = EdgeBytes[d];
        const Verdict v3 = python_verdict(s, 3);
        if (python_verdict_ignoring(s, 3) != v3) ++oracle_disagreements;
        c.check(s, 3, v3, true);
        e.run(c, s, 3, v3, 1);
        for (size_t f = 0; f < Edges; ++f) {
          s[3] = EdgeBytes[f];
          const Verdict v4 = python_verdict(s, 4);
          if (python_verdict_ignoring(s, 4) != v4) ++oracle_disagreements;
          c.check(s, 4, v4, true);
          if (++k % embed_stride == 0) e.run(c, s, 4, v4, simde_embed_stride, {0, 70});
        }
      }
    }
  }
  EXPECT_NO_MISMATCH(c);
  EXPECT_EQ(oracle_disagreements, 0u) << "the two ways of asking the interpreter disagree";
}

// Valid text from all four sequence lengths, weighted towards the edges of
// each range.
class TextMaker {
 public:
  explicit TextMaker(uint64_t seed) : rng_(seed) {}

  uint32_t code_point() {
    static constexpr uint32_t Edges[] = {0x0,    0x7F,   0x80,   0x7FF,  0x800,  0xFFF,   0x1000,  0xD7FF,
                                          0xE000, 0xFFFD, 0xFFFF, 0x10000, 0x3FFFF, 0x40000, 0xFFFFF, 0x10FFFF};
    switch (rng_() % 6) {
      case 0:
      case 1:
        return static_cast<uint32_t>(rng_() % 0x80);
      case 2:
        return Edges[rng_() % std::size(Edges)];
      case 3:
        return 0x80 + static_cast<uint32_t>(rng_() % (0x800 - 0x80));
      case 4: {
        uint32_t cp = 0x800 + static_cast<uint32_t>(rng_() % (0x10000 - 0x800));
        return (cp >= 0xD800 && cp <= 0xDFFF) ? cp - 0x800 : cp;
      }
      default:
        return 0x10000 + static_cast<uint32_t>(rng_() % (0x110000 - 0x10000));
    }
  }

  // Exactly n bytes of valid text; ASCII fills the last gap.
  std::vector<uint8_t> text(size_t n, unsigned ascii_percent) {
    std::vector<uint8_t> out;
    std::vector<uint8_t> one;
    while (out.size() < n) {
      one.clear();
      append_utf8(one, rng_() % 100 < ascii_percent ? static_cast<uint32_t>(rng_() % 0x80) : code_point());
      if (out.size() + one.size() > n) one.assign(1, static_cast<uint8_t>('a' + rng_() % 26));
      out.insert(out.end(), one.begin(), one.end());
    }
    return out;
  }

  uint8_t mutation_byte() {
    return rng_() % 2 ? EdgeBytes[rng_() % std::size(EdgeBytes)] : static_cast<uint8_t>(rng_());
  }

  std::mt19937_64& rng() { return rng_; }

 private:
  std::mt19937_64 rng_;
};

// Every length up to 200, so every position sits next to a 16-, 32- and
// 64-byte boundary in some input: the text itself, each single-byte change,
// each truncation, and a pair of changes.
TEST(Utf8Validate, RandomTextMutatedAndTruncated) {
  Checker c;
  TextMaker m(20240611);
  const size_t rounds = std::max<size_t>(1, static_cast<size_t>(6 * test_scale() + 0.5));
  size_t k = 0;
  for (size_t round = 0; round < rounds; ++round) {
    for (size_t n = 0; n <= 200; ++n) {
      const std::vector<uint8_t> t = m.text(n, round % 3 == 0 ? 80 : 20);
      c.check(t.data(), n, {true, n}, true);
      std::vector<uint8_t> u = t;
      for (size_t i = 0; i < n; ++i) {
        u[i] = m.mutation_byte();
        c.check_python(u.data(), n, ++k % 4 == 0);
        const size_t j = m.rng()() % n;
        const uint8_t keep = u[j];
        u[j] = m.mutation_byte();
        c.check_python(u.data(), n, ++k % 4 == 0);
        u[j] = keep;
        u[i] = t[i];
        c.check_python(t.data(), i, ++k % 4 == 0);
      }
    }
  }
  EXPECT_NO_MISMATCH(c);
}

// A long input with one fault at many positions: the ASCII skipping of both
// validators meets the fault at every alignment.
TEST(Utf8Validate, LongTextWithOneFault) {
  Checker c;
  TextMaker m(77);
  for (unsigned ascii_percent : {100u, 97u, 50u}) {
    const std::vector<uint8_t> t = m.text(4096 + 37, ascii_percent);
    c.check(t.data(), t.size(), {true, t.size()}, true);
    const size_t step = scaled_stride(1);
    for (size_t i = 0; i < t.size(); i += step) {
      std::vector<uint8_t> u = t;
      u[i] = m.mutation_byte();
      c.check_python(u.data(), u.size(), i % 8 == 0);
    }
  }
  EXPECT_NO_MISMATCH(c);
}

// Sequences cut short right before a block of pure ASCII, and lead bytes as
// the very last byte of whole blocks.
TEST(Utf8Validate, OpenSequenceBeforeAsciiBlock) {
  Checker c;
  static constexpr uint8_t Open[][3] = {{0xC2}, {0xE1}, {0xE1, 0x80}, {0xF1}, {0xF1, 0x80}, {0xF1, 0x80, 0x80}};
  static constexpr size_t OpenLen[] = {1, 1, 2, 1, 2, 3};
  for (size_t blocks = 1; blocks <= 3; ++blocks) {
    for (size_t s = 0; s < std::size(Open); ++s) {
      for (size_t ascii_after : {size_t{0}, size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{128}}) {
        const size_t end = 64 * blocks;
        std::vector<uint8_t> u(end + ascii_after, 'x');
        std::copy(Open[s], Open[s] + OpenLen[s], u.begin() + static_cast<ptrdiff_t>(end - OpenLen[s]));
        c.check(u.data(), u.size(), {false, end - OpenLen[s]}, true);
      }
    }
  }
  EXPECT_NO_MISMATCH(c);
}

// The corpus documents, if present, are valid, and stay in step with the
// interpreter under single-byte changes.
TEST(Utf8Validate, CorpusDocuments) {
  Checker c;
  TextMaker m(5);
  size_t seen = 0;
  for (const char* name : {"twitter.json", "github_events.json", "citm_catalog.json", "canada.json"}) {
    std::ifstream in(vellum::test::corpus_dir() + "/" + name, std::ios::binary);
    if (!in) continue;
    ++seen;
    std::vector<uint8_t> doc((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    c.check(doc.data(), doc.size(), {true, doc.size()}, true);
    const size_t changes = std::max<size_t>(1, static_cast<size_t>(20 * test_scale()));
    for (size_t i = 0; i < changes; ++i) {
      const size_t at = m.rng()() % doc.size();
      const uint8_t keep = doc[at];
      doc[at] = m.mutation_byte();
      c.check_python(doc.data(), doc.size(), false);
      doc[at] = keep;
    }
  }
  if (seen == 0) GTEST_SKIP() << "no corpus documents";
  EXPECT_NO_MISMATCH(c);
}

TEST(Utf8Validate, SelectedAgreesAcrossCalls) {
  static constexpr uint8_t Good[] = {0xF0, 0x9F, 0x98, 0x80};
  static constexpr uint8_t Bad[] = {0xED, 0xA0, 0x80};
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(vellum::utf8_routines.validate(Good, sizeof Good));
    EXPECT_FALSE(vellum::utf8_routines.validate(Bad, sizeof Bad));
  }
}

}  // namespace
