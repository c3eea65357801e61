#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "reader/document.hpp"
#include "reader/string.hpp"
#include "tests/cpp/reader_test_support.hpp"

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

std::string text_of(const JsonValue& v) {
  return std::string(reinterpret_cast<const char*>(v.text), v.length());
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
    for (const auto& input : inputs) {
      auto r = read_text(input);
      ASSERT_TRUE(r.ok()) << input << ": " << r.error.message << " at " << r.error.position;
      const JsonValue& v = r.document->root[input[0] == '"' ? 0 : 1];
      EXPECT_EQ(v.type_code(), tag::String);
      EXPECT_EQ(text_of(v), c.expected);
      EXPECT_EQ(v.text, r.document->input_copy + (input[0] == '"' ? 1 : 2));
    }
  }
}

struct FailureCase {
  std::string input;  // the whole input; the string starts at 0
  const char* message;
  size_t position;
};

TEST(ReaderString, Failures) {
  const char* const Control = "unexpected control character in string";
  const char* const Character = "invalid escaped character in string";
  const char* const Sequence = "invalid escaped sequence in string";
  const char* const High = "invalid high surrogate in string";
  const char* const NoLow = "no low surrogate in string";
  const char* const Low = "invalid low surrogate in string";
  const char* const End = "unexpected end of data";
  const FailureCase cases[] = {
      {in_quotes(R"(\ud83d)"), NoLow, 7},
      {in_quotes(R"(\ud83dx)"), NoLow, 7},
      {in_quotes(R"(\ud83d\n)"), NoLow, 7},
      {in_quotes(R"(\ude00)"), High, 1},
      {in_quotes(R"(ab\udfff)"), High, 3},
      {in_quotes(R"(\ud83d\u0041)"), Low, 7},
      {in_quotes(R"(\ud83d\ud83d)"), Low, 7},
      {in_quotes(R"(\ud83d\u12G4)"), Sequence, 7},
      {in_quotes(R"(\x)"), Character, 2},
      {in_quotes(R"(\U0041)"), Character, 2},
      {in_quotes(R"(\')"), Character, 2},
      {in_quotes(R"(\u12G4)"), Sequence, 1},
      {in_quotes(R"(\u12)"), Sequence, 1},
      {in_quotes(R"(\u)"), Sequence, 1},
      {in_quotes(R"(ab\n\u-123)"), Sequence, 5},
      {in_quotes("a\tb"), Control, 2},
      {in_quotes("a\nb"), Control, 2},
      {in_quotes(std::string(1, '\x1F')), Control, 1},
      {in_quotes(std::string(1, '\0')), Control, 1},
      {in_quotes("0123456789abcdefghij\x01"), Control, 21},
      {in_quotes(R"(\n0123456789abcdefghij)" "\x01"), Control, 23},
      {in_quotes(R"(\n)" "\t"), Control, 3},
      {"\"abc", End, 4},
      {"\"", End, 1},
      {"\"0123456789abcdef0123456789", End, 27},
      {"\"\\u12", End, 5},
      {"\"\\u", End, 3},
      {"\"\\", End, 2},
      {"\"\\ud83d\\", End, 8},
      {"\"\\ud83d", End, 7},
      {"\"\\ud83d\\u", End, 9},
      {"\"\\ud83d\\uDC0", End, 12},
      {"\"\\n\\", End, 4},
      {"\"\\nabc", End, 6},
      {"\"\\u12G", Sequence, 1},
      {"\"\\ud83d\\u12G", Sequence, 7},
      {"\"\\ud83dx", NoLow, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "input: " << testing::PrintToString(c.input));
    auto r = read_text(c.input);
    ASSERT_FALSE(r.ok());
    EXPECT_STREQ(r.error.message, c.message);
    EXPECT_EQ(r.error.position, c.position);
    EXPECT_EQ(r.error.code, c.message == End ? 5u : 10u);
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
        ASSERT_TRUE(r.ok()) << r.error.message;
        EXPECT_EQ(text_of(*r.document->root), before + lead);
      }
      // Before an escape.
      {
        auto r = read_text(in_quotes(before + lead + "\\n" + lead));
        ASSERT_TRUE(r.ok()) << r.error.message;
        EXPECT_EQ(text_of(*r.document->root), before + lead + "\n" + lead);
      }
      // Before a control character.
      {
        auto r = read_text(in_quotes(before + lead + "\t"));
        ASSERT_FALSE(r.ok());
        EXPECT_STREQ(r.error.message, "unexpected control character in string");
        EXPECT_EQ(r.error.position, 1 + pad + lead.size());
      }
      // Right before the end of the input.
      for (const std::string& prefix : {std::string("\""), std::string("\"\\n")}) {
        const std::string text = prefix + before + lead;
        auto r = read_text(text);
        ASSERT_FALSE(r.ok());
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
  std::string out;
  for (size_t i = 0; i < content.size(); ++i) {
    if (content[i] != '\\') {
      out += content[i];
      continue;
    }
    const char e = content[++i];
    switch (e) {
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case '"': out += '"'; break;
      case '\\': out += '\\'; break;
      case '/': out += '/'; break;
      case 'u': {
        const unsigned cp = static_cast<unsigned>(std::stoul(content.substr(i + 1, 4), nullptr, 16));
        i += 4;
        if (cp < 0x80) {
          out += static_cast<char>(cp);
        } else if (cp < 0x800) {
          out += static_cast<char>(0xC0 | (cp >> 6));
          out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
          out += static_cast<char>(0xE0 | (cp >> 12));
          out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (cp & 0x3F));
        }
        break;
      }
    }
  }
  return out;
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
      ASSERT_TRUE(r.ok()) << text << ": " << r.error.message;
      const JsonValue* v = r.document->root;
      if (v->type_code() == tag::Array) {
        ++v;
      }
      EXPECT_EQ(text_of(*v), expected) << text;
      if (r.document->value_count == 3) {
        EXPECT_EQ(text_of(v[1]), expected) << text;
      }
    }
    // Cut anywhere: always "unexpected end of data" at the end.
    const std::string whole = in_quotes(content);
    const std::string cut = whole.substr(0, 1 + rng() % (whole.size() - 1));
    auto r = read_text(cut);
    ASSERT_FALSE(r.ok());
    EXPECT_STREQ(r.error.message, "unexpected end of data") << cut;
    EXPECT_EQ(r.error.position, cut.size());
  }
}

// The string reader alone, on a zero-tailed copy of the exact size.
TEST(ReaderString, ReadStringDirectly) {
  const std::string text = "\"a\\nb\" rest";
  std::vector<uint8_t> copy(text.begin(), text.end());
  copy.resize(text.size() + ZeroTail, 0);
  JsonValue v{};
  StringFailure failure{};
  uint8_t* next = read_string(copy.data(), copy.data() + copy.size(), v, failure);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(next - copy.data(), 6);
  EXPECT_EQ(v.tag, (3u << 8) | tag::String);
  EXPECT_EQ(text_of(v), "a\nb");

  const std::string bad = "\"a\\ud800\"";
  std::vector<uint8_t> copy2(bad.begin(), bad.end());
  copy2.resize(bad.size() + ZeroTail, 0);
  EXPECT_EQ(read_string(copy2.data(), copy2.data() + copy2.size(), v, failure), nullptr);
  EXPECT_STREQ(failure.message, "no low surrogate in string");
  EXPECT_EQ(failure.position, copy2.data() + 8);
}

}  // namespace
}  // namespace vellum
