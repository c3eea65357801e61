// The real-world documents, checked against a small, slow, independent
// recursive reader that produces the same record description.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "reader/reader.hpp"
#include "tests/cpp/corpus.hpp"
#include "tests/cpp/reader_test_support.hpp"
#include "tests/oracle/text.hpp"

namespace vellum {
namespace {

namespace fs = std::filesystem;

fs::path corpus_dir() { return test::corpus_dir(); }

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Recursive descent over well-formed JSON, numbers through strtoull/strtod.
// Emits one word per value, as the describing builder does.
class Oracle {
 public:
  explicit Oracle(const std::string& text) : s_(text) {}

  std::string run() {
    value();
    std::string out;
    for (const auto& w : words_) {
      if (!out.empty()) out += ' ';
      out += w;
    }
    return out;
  }

 private:
  const std::string& s_;
  size_t i_ = 0;
  std::vector<std::string> words_;

  void space() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t')) ++i_;
  }
  void word(std::string w) { words_.push_back(std::move(w)); }

  // Returns the number of values in the subtree.
  size_t value() {
    space();
    const char c = s_[i_];
    if (c == '[' || c == '{') return container(c);
    if (c == '"') {
      word(string_word());
      return 1;
    }
    if (s_.compare(i_, 4, "true") == 0) return literal("t", 4);
    if (s_.compare(i_, 5, "false") == 0) return literal("f", 5);
    if (s_.compare(i_, 4, "null") == 0) return literal("n", 4);
    number();
    return 1;
  }

  size_t literal(const char* w, size_t n) {
    word(w);
    i_ += n;
    return 1;
  }

  size_t container(char open) {
    const size_t at = words_.size();
    word("");
    ++i_;
    size_t count = 0, records = 1;
    space();
    const char close = open == '[' ? ']' : '}';
    while (s_[i_] != close) {
      if (open == '{') {
        space();
        word(string_word());
        ++records;
        space();
        ++i_;  // ':'
      }
      records += value();
      ++count;
      space();
      if (s_[i_] == ',') ++i_;
      space();
    }
    ++i_;
    std::string& head = words_[at];
    head.assign(1, open);
    head.append(std::to_string(count));
    return records;
  }

  std::string string_word() {
    const oracle::Unescaped token = oracle::unescape_json(std::string_view(s_).substr(i_));
    i_ += token.end;
    std::string w = "s'";
    test::append_escaped(w, reinterpret_cast<const uint8_t*>(token.text.data()), token.text.size());
    w += '\'';
    return w;
  }

  void number() {
    const size_t start = i_;
    bool integer = true;
    while (i_ < s_.size() && std::strchr("+-0123456789.eE", s_[i_]) != nullptr) {
      if (s_[i_] == '.' || s_[i_] == 'e' || s_[i_] == 'E') integer = false;
      ++i_;
    }
    const std::string token = s_.substr(start, i_ - start);
    char buf[64];
    if (integer) {
      errno = 0;
      if (token[0] != '-') {
        const unsigned long long u = std::strtoull(token.c_str(), nullptr, 10);
        if (errno == 0) {
          std::snprintf(buf, sizeof buf, "u%llu", u);
          word(buf);
          return;
        }
      } else {
        const long long v = std::strtoll(token.c_str(), nullptr, 10);
        if (errno == 0) {
          std::snprintf(buf, sizeof buf, "i%lld", v);
          word(buf);
          return;
        }
      }
    }
    std::snprintf(buf, sizeof buf, "d%.17g", std::strtod(token.c_str(), nullptr));
    word(buf);
  }
};

TEST(ReaderCorpus, MatchesIndependentReader) {
  const fs::path dir = corpus_dir();
  if (!fs::exists(dir)) GTEST_SKIP() << "no corpus at " << dir;
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() != ".json") continue;
    ++files;
    SCOPED_TRACE(entry.path().string());
    const std::string text = slurp(entry.path());
    const std::string expected = Oracle(text).run();

    auto r = test::read_text(text);
    ASSERT_TRUE(r.ok) << r.error.message << " at " << r.error.position;
    EXPECT_EQ(r.words, expected);
  }
  EXPECT_GT(files, 0u);
}

// Every proper prefix of a document whose root is a container is cut short
// inside some token or container: "unexpected end of data" at its end.
TEST(ReaderCorpus, PrefixesAreTruncations) {
  const fs::path path = corpus_dir() / "github_events.json";
  if (!fs::exists(path)) GTEST_SKIP() << "no " << path;
  const std::string text = slurp(path);
  const size_t step = std::max<size_t>(1, static_cast<size_t>(7 / test::test_scale()));
  for (size_t n = 1; n < text.size(); n += step) {
    auto r = test::read_text(std::string_view(text).substr(0, n));
    ASSERT_FALSE(r.ok) << n;
    ASSERT_STREQ(r.error.message, "unexpected end of data") << n;
    ASSERT_EQ(r.error.position, n);
  }
}

}  // namespace
}  // namespace vellum
