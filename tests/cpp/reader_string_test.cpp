#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "reader/reader.hpp"
#include "reader/string.hpp"
#include "base/cpu_features.hpp"
#include "tests/cpp/reader_test_support.hpp"
#include "tests/cpp/forms.hpp"
#include "tests/oracle/text.hpp"

namespace vellum {
namespace {

using test::read_text;

// Appending (rather than operator+ on a literal) keeps GCC 12's -Wrestrict quiet.
std::string join(std::initializer_list<std::string_view> parts) {
  std::string s;
  for (auto part : parts) s.append(part);
  return s;
}

std::string in_quotes(std::string_view content) { return join({"\"", content, "\""}); }

// The word the describing builder writes for a string of these bytes.
std::string word_of(std::string_view bytes) {
  std::string w = "s'";
  test::append_escaped(w, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return w + "'";
}

struct ContentCase {
  std::string content;
  std::string expected;
};

TEST(ReaderString, Contents) {
  const ContentCase cases[] = {
      {"", ""},
      {"abc", "abc"},
      {R"(a\"b)", "a\"b"},
      {R"(\/)", "/"},
      {R"(\\)", "\\"},
      {R"(\b\f\n\r\t)", "\b\f\n\r\t"},
      {R"(\u00e9)", "\xC3\xA9"},
      {R"(\u00E9)", "\xC3\xA9"},
      {R"(\u0041)", "A"},
      {R"(\u007f)", "\x7F"},
      {R"(\u0080)", "\xC2\x80"},
      {R"(\u07ff)", "\xDF\xBF"},
      {R"(\u0800)", "\xE0\xA0\x80"},
      {R"(\u20ac)", "\xE2\x82\xAC"},
      {R"(\uffff)", "\xEF\xBF\xBF"},
      {R"(\ud83d\ude00)", "\xF0\x9F\x98\x80"},
      {R"(\uD800\uDC00)", "\xF0\x90\x80\x80"},
      {R"(\udbff\udfff)", "\xF4\x8F\xBF\xBF"},
      {R"(\u0000)", std::string(1, '\0')},
      {"\xC3\xA9\\n\xE2\x82\xAC", "\xC3\xA9\n\xE2\x82\xAC"},
      {"\x7F", "\x7F"},
      {"\xF0\x9F\x98\x80 \xE2\x82\xAC\xC3\xA9", "\xF0\x9F\x98\x80 \xE2\x82\xAC\xC3\xA9"},
      {R"(0123456789abcdef0123456789abcdef\n0123456789abcdef0123456789abcdefxyz)",
       "0123456789abcdef0123456789abcdef\n0123456789abcdef0123456789abcdefxyz"},
      {R"(\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n)", std::string(18, '\n')},
      {R"(\"0123456789abcde\"0123456\"01234567\"012\")",
       "\"0123456789abcde\"0123456\"01234567\"012\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    // As the root, as an array element and as an object key.
    const std::string inputs[] = {in_quotes(c.content), join({"[", in_quotes(c.content), "]"}),
                                  join({"{", in_quotes(c.content), ":1}"})};
    const std::string words[] = {word_of(c.expected), "[1 " + word_of(c.expected), "{1 " + word_of(c.expected) + " u1"};
    for (size_t i = 0; i < 3; ++i) {
      auto r = read_text(inputs[i]);
      ASSERT_TRUE(r.ok) << inputs[i] << ": " << r.error.message << " at " << r.error.position;
      EXPECT_EQ(r.words, words[i]);
    }
  }
}

// Bytes that are not well-formed UTF-8 pass through unchanged, one at a
// time: a lead byte never swallows a terminator, an escape or the zero tail.
TEST(ReaderString, MalformedUtf8PassesThrough) {
  const std::string leads[] = {"\xE0", "\xF0", "\xC3", "\xF4\x8F", "\xE2\x82", "\x80", "\xBF\xBF", "\xFF", "\xF8"};
  for (const auto& lead : leads) {
    SCOPED_TRACE(testing::PrintToString(lead));
    for (size_t pad = 0; pad < 40; ++pad) {
      const std::string before(pad, 'a');
      // Right before the closing quotation mark.
      {
        auto r = read_text(in_quotes(before + lead));
        ASSERT_TRUE(r.ok) << r.error.message;
        EXPECT_EQ(r.words, word_of(before + lead));
      }
      // Before an escape.
      {
        auto r = read_text(in_quotes(before + lead + "\\n" + lead));
        ASSERT_TRUE(r.ok) << r.error.message;
        EXPECT_EQ(r.words, word_of(before + lead + "\n" + lead));
      }
      // Before a control character.
      {
        auto r = read_text(in_quotes(before + lead + "\t"));
        ASSERT_FALSE(r.ok);
        EXPECT_STREQ(r.error.message, "unexpected control character in string");
        EXPECT_EQ(r.error.position, 1 + pad + lead.size());
      }
      // Right before the end of the input.
      for (const std::string& prefix : {std::string("\""), std::string("\"\\n")}) {
        const std::string text = prefix + before + lead;
        auto r = read_text(text);
        ASSERT_FALSE(r.ok);
        EXPECT_STREQ(r.error.message, "unexpected end of data");
        EXPECT_EQ(r.error.position, text.size());
      }
    }
  }
}

// Unescaping in place against a plain reference, with strings of every
// length placed at every distance from the end of the input, so that the
// block copies meet their short tails and the end of the copy.
std::string reference_unescape(const std::string& content) {
  const oracle::Unescaped r = oracle::unescape_json(in_quotes(content));
  EXPECT_TRUE(r.ok) << r.message;
  return r.text;
}

TEST(ReaderString, RandomEscapesMatchReference) {
  std::mt19937_64 rng(3);
  const char* const pieces[] = {"a", "0123456789", "\\n", "\\t", "\\\"", "\\\\", "\\/", "\\u00e9",
                                "\\u20AC", "\\u0001", "\xC3\xA9", "\xE2\x82\xAC", "xyz"};
  const size_t runs = test::scaled(4000);
  for (size_t run = 0; run < runs; ++run) {
    std::string content;
    const size_t n = rng() % 24;
    for (size_t i = 0; i < n; ++i) content += pieces[rng() % 13];
    const std::string expected = reference_unescape(content);
    const std::string filler(rng() % 20, ' ');
    const std::string quoted_content = in_quotes(content);
    for (const std::string& text : {quoted_content, join({"[", quoted_content, filler, "]"}),
                                    join({"[", quoted_content, ",", quoted_content, "]"})}) {
      auto r = read_text(text);
      ASSERT_TRUE(r.ok) << text << ": " << r.error.message;
      const std::string word = word_of(expected);
      const std::string want =
          text[0] == '"' ? word : text.find(",\"") == std::string::npos ? "[1 " + word : "[2 " + word + " " + word;
      EXPECT_EQ(r.words, want) << text;
    }
    // Cut anywhere: always "unexpected end of data" at the end.
    const std::string whole = in_quotes(content);
    const std::string cut = whole.substr(0, 1 + rng() % (whole.size() - 1));
    auto r = read_text(cut);
    ASSERT_FALSE(r.ok);
    EXPECT_STREQ(r.error.message, "unexpected end of data") << cut;
    EXPECT_EQ(r.error.position, cut.size());
  }
}

// The string reader alone, on a text of the exact size and its zero byte.
TEST(ReaderString, ReadStringDirectly) {
  const std::string text = "\"a\\nb\" \"cd\xC3\xA9\" \"xy\"";
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  DecodeError error{};
  const ReaderInput input{bytes.data(), bytes.data() + text.size(), bytes.data() + bytes.size(), &error};
  TextBuffer buffer(test::heap_memory());
  StringToken s{};
  const uint8_t* next = read_string(bytes.data(), s, buffer, input);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(next - bytes.data(), 6);
  EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(s.text), s.length), "a\nb");
  EXPECT_EQ(s.text, buffer.data()) << "unescaped text goes to the buffer";
  EXPECT_TRUE(s.ascii) << "unescaped text is ASCII when its bytes are";
  next = read_string(bytes.data() + 7, s, buffer, input);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(s.text, bytes.data() + 8) << "text without escapes is handed on in place";
  EXPECT_EQ(s.length, 4u);
  EXPECT_FALSE(s.ascii);
  next = read_string(bytes.data() + 15, s, buffer, input);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(s.text, bytes.data() + 16);
  EXPECT_TRUE(s.ascii);

  const std::string bad = "\"a\\ud800\"";
  std::vector<uint8_t> bytes2(bad.begin(), bad.end());
  bytes2.push_back(0);
  const ReaderInput input2{bytes2.data(), bytes2.data() + bad.size(), bytes2.data() + bytes2.size(), &error};
  EXPECT_EQ(read_string(bytes2.data(), s, buffer, input2), nullptr);
  EXPECT_EQ(error.code, ReadErrorCode::InvalidString);
  EXPECT_STREQ(error.message, "no low surrogate in string");
  EXPECT_EQ(error.position, 8u);
}

// ------------------------------------------------------------ variants

const StringRoutines& PortableRoutines = portable::routines<StringRoutines>();

// Every routine set: the portable one, the SIMDe builds, and the native ones
// where the processor runs them.
std::vector<test::Form<StringRoutines>> variant_routines() {
  auto out = test::tables(string_forms);
  out.push_back({"selected", string_routines, false});
  return out;
}

TEST(ReaderStringVariants, FormsAndTheChoice) { EXPECT_EQ(test::list_problems(string_forms, string_routines), ""); }

// One string token read from a zero-tailed copy of exactly its size.
struct TokenResult {
  ptrdiff_t next = -1;  // offset after the token, -1 on failure
  bool ascii = false;
  std::string text;
  std::string message;
  ptrdiff_t position = -1;

  bool operator==(const TokenResult&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TokenResult& r) {
  return os << "next " << r.next << " ascii " << r.ascii << " text " << testing::PrintToString(r.text)
            << " message '" << r.message << "' at " << r.position;
}

TokenResult read_token(const StringRoutines& routines, const std::string& input) {
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[input.size() + 1]);
  std::memcpy(bytes.get(), input.data(), input.size());
  bytes[input.size()] = 0;
  StringToken s{};
  DecodeError error{};
  TokenResult r;
  const ReaderInput bounds{bytes.get(), bytes.get() + input.size(), bytes.get() + input.size() + 1, &error};
  TextBuffer buffer(test::heap_memory());
  const uint8_t* next = read_string_using(routines, bytes.get(), s, buffer, bounds);
  if (next == nullptr) {
    EXPECT_EQ(error.code, ReadErrorCode::InvalidString);
    r.message = error.message;
    r.position = static_cast<ptrdiff_t>(error.position);
  } else {
    r.next = next - bytes.get();
    r.ascii = s.ascii;
    r.text.assign(reinterpret_cast<const char*>(s.text), s.length);
    bool high = false;
    for (uint8_t c : r.text) high |= c >= 0x80;
    EXPECT_EQ(s.ascii, !high) << "ascii must say exactly whether the text holds a byte above 0x7F";
  }
  return r;
}

// The scan alone: the first stop at or after every starting point, and
// whether a byte above 0x7F lies before it, in buffers of exactly their size.
TEST(ReaderStringVariants, FindStopMatchesBytewise) {
  std::mt19937_64 rng(17);
  const uint8_t stops[] = {'"', '\\', 0x00, 0x01, 0x1F, '\n'};
  const uint8_t others[] = {'a', 0x20, 0x21, 0x23, 0x5B, 0x5D, 0x7F, 0x80, 0xA2, 0xDC, 0xFF, 0x3E};
  const auto variants = variant_routines();
  const size_t runs = test::scaled(300);
  for (size_t run = 0; run < runs; ++run) {
    const size_t length = rng() % 400;
    // The text, its zero byte, and up to 70 bytes that may be read but
    // are not text (read in place, whatever follows the zero byte).
    const size_t after = rng() % 71;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[length + 1 + after]);
    uint8_t* base = buffer.get();
    for (size_t i = 0; i < length; ++i) base[i] = others[rng() % std::size(others)];
    base[length] = 0;
    for (size_t i = 0; i < after; ++i) base[length + 1 + i] = rng() % 2 ? 0x80 : '"';
    // None, one or a few stops anywhere.
    for (size_t k = rng() % 4; k > 0 && length > 0; --k) base[rng() % length] = stops[rng() % std::size(stops)];
    const uint8_t* limit = base + length + 1 + after;
    for (size_t from = 0; from <= length; ++from) {
      size_t expected = from;
      bool expected_high = false;
      for (; !has_class(base[expected], char_class::StringStop); ++expected) expected_high |= base[expected] >= 0x80;
      bool high = false;
      ASSERT_EQ(portable::find_stop(base + from, limit, high) - base, static_cast<ptrdiff_t>(expected));
      ASSERT_EQ(high, expected_high);
      for (const auto& variant : variants) {
        high = false;
        ASSERT_EQ(variant.routine.find_stop(base + from, limit, high) - base, static_cast<ptrdiff_t>(expected))
            << variant.name << " length " << length << " from " << from;
        ASSERT_EQ(high, expected_high) << variant.name << " length " << length << " from " << from;
      }
    }
  }
}

// Whole tokens, valid and not, of every density of escapes: each variant
// gives the portable result, which matches the reference when valid.
TEST(ReaderStringVariants, TokensMatchPortable) {
  std::mt19937_64 rng(29);
  const char* const escapes[] = {"\\n", "\\t", "\\\"", "\\\\", "\\/", "\\b", "\\f", "\\r", "\\u00e9",
                                 "\\u20AC", "\\u0041", "\\ud83d\\ude00", "\\u0000"};
  const char* const faults[] = {"\\x", "\\u12G4", "\\ud83d", "\\ud83dx", "\\ude00", "\\ud83d\\u0041",
                                "\t", std::string_view("\0", 1).data(), "\\"};
  const char* const text[] = {"a", "0123456789", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                              "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-*"};
  const auto variants = variant_routines();
  const size_t runs = test::scaled(3000);
  for (size_t run = 0; run < runs; ++run) {
    // Escape share from none to all, over lengths up to several blocks.
    const unsigned escape_share = static_cast<unsigned>(rng() % 101);
    const size_t pieces = rng() % (run % 4 == 0 ? 200 : 30);
    std::string content;
    bool valid = true;
    for (size_t i = 0; i < pieces; ++i) {
      if (rng() % 100 < escape_share) content += escapes[rng() % std::size(escapes)];
      else content += text[rng() % std::size(text)];
    }
    if (rng() % 8 == 0) {
      const size_t at = content.empty() ? 0 : rng() % content.size();
      // Only between whole pieces or ASCII bytes, so an escape is not split.
      if (at == 0 || (content[at - 1] != '\\' && static_cast<uint8_t>(content[at]) < 0x80)) {
        const size_t f = rng() % std::size(faults);
        content.insert(at, f == 7 ? std::string(1, '\0') : std::string(faults[f]));
        valid = false;
      }
    }
    std::string input = in_quotes(content);
    const bool cut = rng() % 6 == 0;
    if (cut) input.resize(rng() % input.size() + 1);
    else input += std::string(rng() % 3, ' ');
    const TokenResult expected = read_token(PortableRoutines, input);
    if (valid && !cut) {
      ASSERT_EQ(expected.next, static_cast<ptrdiff_t>(content.size() + 2)) << testing::PrintToString(input);
      EXPECT_EQ(expected.text, reference_unescape(content)) << testing::PrintToString(input);
    }
    for (const auto& variant : variants)
      ASSERT_EQ(read_token(variant.routine, input), expected) << variant.name << ": " << testing::PrintToString(input);
  }
}

// One byte above 0x7F, raw or from a \u escape, at every place of escaped
// texts of every length across the block, word and byte steps of the test
// that tells unescaped text as ASCII (read_token checks the flag).
TEST(ReaderStringVariants, EscapedTextAsciiAtEveryPlace) {
  const auto variants = variant_routines();
  for (size_t length = 1; length < 150; ++length) {
    for (size_t at = 0; at <= length; at += (length < 70 ? 1 : 7)) {
      for (const char* high : {"", "\xC3\xA9", "\\u00e9", "\\u0041"}) {
        std::string content = "\\n";
        for (size_t i = 0; i < length; ++i) content += static_cast<char>('a' + i % 26);
        content.insert(content.size() - length + at, high);
        // High bytes past the text, read by the block steps, are not its own.
        std::string input = in_quotes(content);
        for (int i = 0; i < 70; ++i) input += "\xC3\xA9";
        const TokenResult expected = read_token(PortableRoutines, input);
        ASSERT_EQ(expected.text, reference_unescape(content));
        for (const auto& variant : variants)
          ASSERT_EQ(read_token(variant.routine, input), expected) << variant.name << " length " << length << " at " << at;
      }
    }
  }
}

// Runs of every length between escapes, after every number of leading
// escapes, so that block copies meet each amount of shrinkage.
TEST(ReaderStringVariants, RunLengthsAfterShrinkage) {
  const auto variants = variant_routines();
  for (size_t leading = 0; leading < 70; leading += 3) {
    for (size_t run = 0; run < 140; ++run) {
      std::string content;
      for (size_t i = 0; i < leading; ++i) content += "\\n";
      for (int repeat = 0; repeat < 3; ++repeat) {
        for (size_t i = 0; i < run; ++i) content += static_cast<char>('a' + (i + repeat) % 26);
        content += repeat == 1 ? "\\u20ac" : "\\\"";
      }
      content += "xyz";
      const std::string input = in_quotes(content);
      const TokenResult expected = read_token(PortableRoutines, input);
      ASSERT_EQ(expected.text, reference_unescape(content));
      ASSERT_EQ(expected.next, static_cast<ptrdiff_t>(input.size()));
      for (const auto& variant : variants)
        ASSERT_EQ(read_token(variant.routine, input), expected) << variant.name << " leading " << leading << " run " << run;
    }
  }
}

}  // namespace
}  // namespace vellum
