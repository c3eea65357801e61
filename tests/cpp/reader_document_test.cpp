#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "reader/reader.hpp"
#include "tests/cpp/guard_pages.hpp"
#include "tests/cpp/reader_test_support.hpp"

namespace vellum {
namespace {

using test::read_text;

struct LayoutCase {
  std::string input;
  std::string records;
};

TEST(ReaderDocument, Values) {
  const LayoutCase cases[] = {
      {"[]", "[0"},
      {"{}", "{0"},
      {"[ ]", "[0"},
      {"[1,[2,3],{}]", "[3 u1 [2 u2 u3 {0"},
      {R"({"a":[1,2],"b":null})", "{2 s'a' [2 u1 u2 s'b' n"},
      {"[true,false,null]", "[3 t f n"},
      {"[[[]]]", "[1 [1 [0"},
      {R"({"":{"":[]}})", "{1 s'' {1 s'' [0"},
      {R"([{"k":"v"},"x",-1,2.5])", "[4 {1 s'k' s'v' s'x' i-1 d2.5"},
      {"  [1]  ", "[1 u1"},
      {" \t\r\n[\n  1,\n  2\n]\n", "[2 u1 u2"},
      {"[  1  ,  {  \"a\"  :  [  ]  }  ]", "[2 u1 {1 s'a' [0"},
      {"0", "u0"},
      {"-0", "i0"},
      {"\"abc\"", "s'abc'"},
      {" true ", "t"},
      {"false", "f"},
      {"null", "n"},
      {"12.5e1", "d125"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    auto r = read_text(c.input);
    ASSERT_TRUE(r.ok) << r.error.message << " at " << r.error.position;
    EXPECT_EQ(r.words, c.records);
    EXPECT_EQ(r.error.code, static_cast<ReadErrorCode>(99)) << "the error record must stay untouched on success";
  }
}

// A builder that takes reals as text gets each one as written, the rest as
// the plain builder does, and reals beyond the double's range too. (Its
// words show a real's text as a string's, after an r.)
class RealTextBuilder : public test::DescribeBuilder {
 public:
  bool real_text(const uint8_t* text, size_t size) {
    const std::string w = "r" + std::string(reinterpret_cast<const char*>(text), size);
    return string({reinterpret_cast<const uint8_t*>(w.data()), w.size(), true});
  }
};

TEST(ReaderDocument, RealsAsText) {
  const std::string padding(40, ' ');  // the first number far from the end, the last one near it
  const LayoutCase cases[] = {
      {"[1.50,-0.0,1e5,2,-3,0]", "[6 s'r1.50' s'r-0.0' s'r1e5' u2 i-3 u0"},
      {"[18446744073709551616,-9223372036854775809,18446744073709551615]",
       "[3 s'r18446744073709551616' s'r-9223372036854775809' u18446744073709551615"},
      {"[1e400,-1E+99999999999999999999,1e-99999999999999999999,0.1e309]",
       "[4 s'r1e400' s'r-1E+99999999999999999999' s'r1e-99999999999999999999' s'r0.1e309'"},
      {"2.5E-3", "s'r2.5E-3'"},
      {"1e309", "s'r1e309'"},
  };
  for (const auto& c : cases) {
    for (const std::string& input : {c.input, c.input + padding}) {
      SCOPED_TRACE(input);
      DecodeError error{};
      RealTextBuilder builder;
      ASSERT_TRUE(test::read_exact(input, builder, error)) << error.message << " at " << error.position;
      EXPECT_EQ(builder.words, c.records);
    }
  }
  // The plain builder still refuses what a double cannot hold.
  EXPECT_FALSE(read_text("[1e400]").ok);
  EXPECT_STREQ(read_text("[1e400]").error.message, "number is infinity when parsed as double");
}

// The grammar's accept/reject rows, failures with their positions, are in
// reader_grammar.hpp.

constexpr auto Literal = ReadErrorCode::InvalidLiteral;
constexpr auto Number = ReadErrorCode::InvalidNumber;
constexpr auto String = ReadErrorCode::InvalidString;

TEST(ReaderDocument, ErrorIsTruncation) {
  struct Case {
    std::string rest;
    ReadErrorCode code;
    bool truncated;
  };
  const Case cases[] = {
      {"", ReadErrorCode::UnexpectedCharacter, true},
      {"x", ReadErrorCode::UnexpectedCharacter, false},
      {"t", Literal, true},
      {"tru", Literal, true},
      {"true", Literal, false},
      {"fals", Literal, true},
      {"false", Literal, false},
      {"nu", Literal, true},
      {"nx", Literal, false},
      {"tx", Literal, false},
      {"t", Number, false},
      {"\\", String, true},
      {"\\u", String, true},
      {"\\u0", String, true},
      {"\\uAbC", String, true},
      {"\\uABCD", String, false},
      {"\\uAG", String, false},
      {"\\x", String, false},
      {"\\\\", String, false},
      {"a", String, false},
      {"\\", Literal, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rest);
    const auto* p = reinterpret_cast<const uint8_t*>(c.rest.data());
    EXPECT_EQ(error_is_truncation(p, p + c.rest.size(), c.code), c.truncated);
  }
}

std::string nested(size_t depth, const char* open, const char* close) {
  std::string s;
  for (size_t i = 0; i < depth; ++i) s += open;
  for (size_t i = 0; i < depth; ++i) s += close;
  return s;
}

TEST(ReaderDocument, DepthLimit) {
  {
    auto r = read_text(nested(1024, "[", "]"));
    ASSERT_TRUE(r.ok) << r.error.message;
    std::string expected;
    for (size_t i = 0; i < 1024; ++i) expected += i == 1023 ? "[0" : "[1 ";
    EXPECT_EQ(r.words, expected);
  }
  {
    auto r = read_text(nested(1025, "[", "]"));
    ASSERT_FALSE(r.ok);
    EXPECT_STREQ(r.error.message, "array and object recursion depth exceeded");
    EXPECT_EQ(r.error.position, 1025u);
    EXPECT_EQ(r.error.code, ReadErrorCode::DepthExceeded);
  }
  {
    auto r = read_text(std::string(1025, '['));
    ASSERT_FALSE(r.ok);
    EXPECT_STREQ(r.error.message, "unexpected end of data");
    EXPECT_EQ(r.error.position, 1025u);
  }
  {
    // Objects count the same; the innermost value sits at depth 1023.
    std::string ok = nested(1023, "{\"k\":", "}");
    ok.insert(1023 * 5, "{}");
    auto r = read_text(ok);
    ASSERT_TRUE(r.ok) << r.error.message;
    std::string deep = nested(1024, "{\"k\":", "}");
    deep.insert(1024 * 5, "{}");
    r = read_text(deep);
    ASSERT_FALSE(r.ok);
    EXPECT_STREQ(r.error.message, "array and object recursion depth exceeded");
    EXPECT_EQ(r.error.position, 1024u * 5 + 1);
  }
  {
    // Depth falls again when containers close: many siblings at the limit,
    // and the kind of each level comes back when its child closes.
    std::string s(1000, '[');
    for (int i = 0; i < 20; ++i) s += "{\"k\":";
    s += '{';
    for (int i = 0; i < 3; ++i) s += "\"a\":[1],\"b\":{},";
    s += "\"c\":[]}";
    s += std::string(20, '}') + std::string(1000, ']');
    auto r = read_text(s);
    ASSERT_TRUE(r.ok) << r.error.message << " at " << r.error.position;
    for (size_t levels : {1u, 63u, 64u, 65u, 127u, 128u, 129u, 1023u}) {
      std::string t;
      for (size_t i = 0; i < levels; ++i) t += i % 3 == 0 ? "[" : "{\"k\":";
      t += "0";
      for (size_t i = levels; i-- > 0;) t += i % 3 == 0 ? ",1]" : ",\"z\":1}";
      auto u = read_text(t);
      ASSERT_TRUE(u.ok) << levels << ": " << u.error.message << " at " << u.error.position;
    }
  }
}

// --- builders that stop, memory that runs out ----------------------------

// Refuses its n-th value (keys and container ends counted too).
struct RefusingBuilder : test::DescribeBuilder {
  int left;
  explicit RefusingBuilder(int n) : left(n) {}
  bool take() { return --left != 0; }
  bool null_value() { return take() && DescribeBuilder::null_value(); }
  bool boolean(bool v) { return take() && DescribeBuilder::boolean(v); }
  bool unsigned_int(uint64_t v) { return take() && DescribeBuilder::unsigned_int(v); }
  bool signed_int(int64_t v) { return take() && DescribeBuilder::signed_int(v); }
  bool real(double v) { return take() && DescribeBuilder::real(v); }
  bool string(const StringToken& s) { return take() && DescribeBuilder::string(s); }
  bool key(const StringToken& s) { return take() && DescribeBuilder::key(s); }
  bool open_array() { return take() && DescribeBuilder::open_array(); }
  bool open_object() { return take() && DescribeBuilder::open_object(); }
  bool close_array() { return take() && DescribeBuilder::close_array(); }
  bool close_object() { return take() && DescribeBuilder::close_object(); }
};

// A refusal stops the reader at once, at the first byte of the token that
// was refused (a closing bracket for a container's end).
TEST(ReaderDocument, BuilderStopsTheReader) {
  const std::string text = R"( {"a": [1, -2, 3.5, true, false, null, "x"], "b": {}} )";
  const size_t positions[] = {1, 2, 7, 8, 11, 15, 20, 26, 33, 39, 42, 45, 50, 51, 52};
  for (size_t n = 1; n <= std::size(positions); ++n) {
    SCOPED_TRACE(n);
    RefusingBuilder builder(static_cast<int>(n));
    DecodeError error{};
    ASSERT_FALSE(test::read_exact(text, builder, error));
    EXPECT_EQ(error.code, ReadErrorCode::Stopped);
    EXPECT_EQ(error.position, positions[n - 1]);
  }
  RefusingBuilder all(100);
  DecodeError error{};
  EXPECT_TRUE(test::read_exact(text, all, error));
  EXPECT_EQ(all.words, "{2 s'a' [7 u1 i-2 d3.5 t f n s'x' s'b' {0");
}

// Unescaped text needs memory only beyond the buffer's inline room; when it
// cannot have it, "memory allocation failed" at the string's quotation mark.
TEST(ReaderDocument, TextBufferMemory) {
  const TextBuffer::Memory refusing{[](void*, size_t) -> void* { return nullptr; }, [](void*) {}};
  const std::string shorter(TextBuffer::InlineSize - string_detail::UnescapeSlack - 8, 'a');
  auto r = test::read_text("[0, \"" + shorter + "\\n\"]", refusing);
  ASSERT_TRUE(r.ok) << r.error.message;
  for (const std::string& text : {"[0, \"" + std::string(300, 'a') + "\\n\"]", "[0, \"\\n" + std::string(300, 'a') + "\"]",
                                  "[0, \"" + std::string(1000, 'a') + "\\n" + std::string(50, 'b')}) {
    r = test::read_text(text, refusing);
    ASSERT_FALSE(r.ok);
    EXPECT_STREQ(r.error.message, "memory allocation failed");
    EXPECT_EQ(r.error.code, ReadErrorCode::OutOfMemory);
    EXPECT_EQ(r.error.position, 4u);
    auto grown = test::read_text(text);
    EXPECT_EQ(grown.ok, text.back() == ']');
  }
}

// --- reading in place -------------------------------------------------------

// Texts that end right before an inaccessible page, their zero byte the
// page's last byte, read with the limit there (as the sanitizer build reads
// the caller's bytes): no access may fall past it, and every text reads as
// it does elsewhere.
TEST(ReaderDocument, TextsAtTheEndOfAPage) {
  test::GuardedPage page;
  ASSERT_TRUE(page.ok());
  const std::string texts[] = {
      "1", "-12", "123456789012345678901", "1.5e300", "-0.000000000000000000000000001", "0", "-", "1.", "1e+",
      "true", "fals", "null", "nul", "\"abc\"", "\"a\\u00e9\"", "\"a\\u00\"", "\"\\ud83d\\ude00\"",
      "[1,2,3]", "[1,2,3", "[1,2,", "{\"a\":12345678901234567}", "{\"a\":true}", "[false]", "[nul", "[tru]",
      " [ 1 , 2.25 ] ", "[\"" + std::string(200, 'x') + "\"]", "[\"" + std::string(200, 'x') + "\\n\"]",
      "[\"" + std::string(100, '\xC3') + "\"", "[12345678901234567890123456789]", "[1e400]",
      std::string(50, '[') + std::string(50, ']')};
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    for (size_t pad = 0; pad < 70; ++pad) {
      // The text, `pad` spaces, and the zero byte in the page's last byte.
      const std::string padded = text + std::string(pad, ' ');
      const test::ReadResult expected = test::read_text(padded);
      uint8_t* at = page.last(padded.size() + 1);
      std::memcpy(at, padded.data(), padded.size());
      at[padded.size()] = 0;
      DecodeError error{static_cast<ReadErrorCode>(99), "untouched", 12345};
      const ReaderInput input{at, at + padded.size(), at + padded.size() + 1, &error};
      test::DescribeBuilder builder;
      TextBuffer buffer(test::heap_memory());
      const bool ok = read_json(input, builder, buffer);
      ASSERT_EQ(ok, expected.ok) << pad;
      if (ok) {
        EXPECT_EQ(builder.words, expected.words);
      } else {
        EXPECT_STREQ(error.message, expected.error.message);
        EXPECT_EQ(error.position, expected.error.position);
      }
    }
  }
}

// Read in place, the bytes between the zero byte and the limit are whatever
// the caller's memory holds: stops, digits, quotation marks. None of them
// may change the outcome.
TEST(ReaderDocument, BytesPastTheEndDoNotMatter) {
  const std::string texts[] = {"[1,2", "\"abc", "\"a\\", "\"a\\u12", "123", "-", "1e", "tr", "{\"a\":", "[\"x\"]",
                               std::string(1, '"').append(100, 'y'), std::string("\"\\n").append(100, 'y'), "[1.25]",
                               "7"};
  const std::string junks[] = {std::string(80, '"'), std::string(80, '1'), std::string(80, '\\'),
                               std::string(80, 'e'), std::string("u0041\"]}").append(72, 'a'), std::string(80, '\xFF')};
  for (const std::string& text : texts) {
    const test::ReadResult expected = test::read_text(text);
    for (const std::string& junk : junks) {
      SCOPED_TRACE(text + " then " + junk.substr(0, 8));
      std::vector<uint8_t> memory(text.begin(), text.end());
      memory.push_back(0);
      memory.insert(memory.end(), junk.begin(), junk.end());
      DecodeError error{};
      const ReaderInput input{memory.data(), memory.data() + text.size(), memory.data() + memory.size(), &error};
      test::DescribeBuilder builder;
      TextBuffer buffer(test::heap_memory());
      const bool ok = read_json(input, builder, buffer);
      ASSERT_EQ(ok, expected.ok);
      if (ok) {
        EXPECT_EQ(builder.words, expected.words);
      } else {
        EXPECT_STREQ(error.message, expected.error.message);
        EXPECT_EQ(error.position, expected.error.position);
      }
    }
  }
}

// --- the two variants ------------------------------------------------------

// Random JSON with random whitespace between tokens.
struct TextMaker {
  std::mt19937_64 rng;
  explicit TextMaker(uint64_t seed) : rng(seed) {}

  size_t below(size_t n) { return static_cast<size_t>(rng() % n); }

  std::string space() {
    static const char* const pieces[] = {"", "", "", " ", "\n", "\n  ", "    ", "\t", "\r\n", "   "};
    return pieces[below(10)];
  }

  std::string string_token() {
    static const char* const parts[] = {"a",      "bc",     "\\n",     "\\\"",        "\\u00e9",
                                        "\\ud83d\\ude00", "\xC3\xA9", "\xE2\x82\xAC", "0123456789abcdef",
                                        "\\/",    " ",      "\\\\"};
    std::string s = "\"";
    for (size_t n = below(6); n > 0; --n) s += parts[below(12)];
    return s + "\"";
  }

  std::string scalar() {
    static const char* const numbers[] = {"0", "-0", "1", "-17", "3.25", "1e5", "-2.5E-3",
                                          "18446744073709551615", "-9223372036854775808",
                                          "123456789012345678901234", "0.1"};
    switch (below(5)) {
      case 0: return numbers[below(11)];
      case 1: return string_token();
      case 2: return "true";
      case 3: return "false";
      default: return "null";
    }
  }

  std::string value(int depth) {
    if (depth > 6 || below(3) == 0) return scalar();
    const bool array = below(2) == 0;
    std::string s = array ? "[" : "{";
    const size_t n = below(5);
    for (size_t i = 0; i < n; ++i) {
      if (i) s += ",";
      s += space();
      if (!array) s += string_token() + space() + ":" + space();
      s += value(depth + 1) + space();
    }
    return s + (array ? "]" : "}");
  }
};

// The same values whichever variant reads the text; failures the same too,
// at positions shifted by the one extra byte of the spaced prefix.
TEST(ReaderDocument, VariantsAgree) {
  TextMaker maker(7);
  const std::string breakers[] = {"", "]", "}", ",", ":", "\"", "\\", "x", "1", "-", "t", "\n", "[", "{"};
  const size_t runs = test::scaled(3000);
  size_t failures = 0;
  for (size_t run = 0; run < runs; ++run) {
    // Body: what follows the root bracket, starting with a non-space byte.
    std::string body = maker.value(0) + maker.space() + "," + maker.space() + maker.value(0) + "]";
    if (run % 2 == 1) {
      // Damage it: cut it, or replace or insert a byte.
      const size_t at = maker.below(body.size());
      switch (maker.below(3)) {
        case 0: body.resize(at); break;
        case 1: body[at] = breakers[maker.below(14)][0]; break;
        default: body.insert(at, breakers[maker.below(14)]); break;
      }
      if (body.empty() || body[0] == ' ' || body[0] == '\n' || body[0] == '\t' || body[0] == '\r')
        body.insert(0, "0,");
    }
    const std::string compact = "[ " + body;
    const std::string spaced = "[  " + body;
    SCOPED_TRACE(compact);
    auto a = read_text(compact);
    auto b = read_text(spaced);
    ASSERT_EQ(a.ok, b.ok);
    if (a.ok) {
      EXPECT_EQ(a.words, b.words);
    } else {
      ++failures;
      EXPECT_STREQ(a.error.message, b.error.message);
      EXPECT_EQ(a.error.position + 1, b.error.position);
      EXPECT_EQ(a.error.code, b.error.code);
    }
  }
  EXPECT_GT(failures, runs / 4);
}

// The spaced variant starts with a smaller block; both shapes of text in
// both variants must survive many growth steps.
TEST(ReaderDocument, VariantsAgreeOnLargeTexts) {
  TextMaker maker(11);
  std::string body;
  for (size_t i = 0; i < test::scaled(2000); ++i) body += maker.value(0) + ",";
  body += "0]";
  auto a = read_text("[ " + body);
  auto b = read_text("[  " + body);
  ASSERT_TRUE(a.ok && b.ok);
  EXPECT_EQ(a.words, b.words);
}

}  // namespace
}  // namespace vellum
