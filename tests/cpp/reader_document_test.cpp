#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "reader/document.hpp"
#include "reader/pool.hpp"
#include "tests/cpp/reader_test_support.hpp"

namespace vellum {
namespace {

using test::describe;
using test::read_text;

struct LayoutCase {
  std::string input;
  std::string records;
};

TEST(ReaderDocument, RecordLayouts) {
  const LayoutCase cases[] = {
      {"[]", "[0:16"},
      {"{}", "{0:16"},
      {"[ ]", "[0:16"},
      {"[1,[2,3],{}]", "[3:96 u1 [2:48 u2 u3 {0:16"},
      {R"({"a":[1,2],"b":null})", "{2:112 s'a' [2:48 u1 u2 s'b' n"},
      {"[true,false,null]", "[3:64 t f n"},
      {"[[[]]]", "[1:48 [1:32 [0:16"},
      {R"({"":{"":[]}})", "{1:80 s'' {1:48 s'' [0:16"},
      {R"([{"k":"v"},"x",-1,2.5])", "[4:112 {1:48 s'k' s'v' s'x' i-1 d2.5"},
      {"  [1]  ", "[1:32 u1"},
      {" \t\r\n[\n  1,\n  2\n]\n", "[2:48 u1 u2"},
      {"[  1  ,  {  \"a\"  :  [  ]  }  ]", "[2:80 u1 {1:48 s'a' [0:16"},
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
    ASSERT_TRUE(r.ok()) << r.error.message << " at " << r.error.position;
    EXPECT_EQ(describe(r.document.get()), c.records);
    EXPECT_EQ(r.document->bytes_read, c.input.size());
    EXPECT_EQ(r.document->root, reinterpret_cast<JsonValue*>(r.document.get()) + 4);
    EXPECT_EQ(r.error.code, static_cast<ReadErrorCode>(99)) << "the error record must stay untouched on success";
  }
}

TEST(ReaderDocument, HeaderFields) {
  auto r = read_text(R"({"a":[1,2],"b":null})");
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.document->value_count, 7u);
  EXPECT_EQ(r.document->root[1].text, r.document->input_copy + 2);
  EXPECT_EQ(r.document->input_copy[r.document->bytes_read], 0);
  // Strings point into the copy, not into the caller's bytes.
  EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(r.document->input_copy), 20),
            R"({"a":[1,2],"b":null})");
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
    ASSERT_TRUE(r.ok()) << r.error.message;
    ASSERT_EQ(r.document->value_count, 1024u);
    for (size_t i = 0; i < 1024; ++i) {
      const JsonValue& v = r.document->root[i];
      EXPECT_EQ(v.tag, (i == 1023 ? 0u : 1u) << 8 | tag::Array);
      EXPECT_EQ(v.distance, 16 * (1024 - i));
    }
  }
  {
    auto r = read_text(nested(1025, "[", "]"));
    ASSERT_FALSE(r.ok());
    EXPECT_STREQ(r.error.message, "array and object recursion depth exceeded");
    EXPECT_EQ(r.error.position, 1025u);
    EXPECT_EQ(r.error.code, ReadErrorCode::DepthExceeded);
  }
  {
    auto r = read_text(std::string(1025, '['));
    ASSERT_FALSE(r.ok());
    EXPECT_STREQ(r.error.message, "unexpected end of data");
    EXPECT_EQ(r.error.position, 1025u);
  }
  {
    // Objects count the same; the innermost value sits at depth 1023.
    std::string ok = nested(1023, "{\"k\":", "}");
    ok.insert(1023 * 5, "{}");
    auto r = read_text(ok);
    ASSERT_TRUE(r.ok()) << r.error.message;
    EXPECT_EQ(r.document->value_count, 1023u * 2 + 1);
    std::string deep = nested(1024, "{\"k\":", "}");
    deep.insert(1024 * 5, "{}");
    r = read_text(deep);
    ASSERT_FALSE(r.ok());
    EXPECT_STREQ(r.error.message, "array and object recursion depth exceeded");
    EXPECT_EQ(r.error.position, 1024u * 5 + 1);
  }
  {
    // Depth falls again when containers close: many siblings at the limit.
    std::string s = std::string(1023, '[');
    for (int i = 0; i < 3; ++i) s += "[1],";
    s += "[]";
    s += std::string(1023, ']');
    auto r = read_text(s);
    ASSERT_TRUE(r.ok()) << r.error.message << " at " << r.error.position;
  }
}

// --- memory --------------------------------------------------------------

TEST(ReaderDocument, OutOfMemoryPositions) {
  struct Case {
    std::string input;
    int fail_allocation;
    size_t position;
  };
  const Case cases[] = {
      {"[1]", 1, 0},     // the copy
      {"  1", 1, 0},     //
      {"  [1]", 2, 2},   // the value block: the root's bracket
      {"  \"x\"", 2, 2}, // the scalar root's first byte
      {" null", 2, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    test::TrackingHeap heap;
    heap.fail_allocation = c.fail_allocation;
    const ReaderAllocator allocator = heap.allocator();
    auto r = read_text(c.input, &allocator);
    ASSERT_FALSE(r.ok());
    EXPECT_STREQ(r.error.message, "memory allocation failed");
    EXPECT_EQ(r.error.code, ReadErrorCode::OutOfMemory);
    EXPECT_EQ(r.error.position, c.position);
    EXPECT_TRUE(heap.live.empty());
  }
}

// The copy comes first (length + ZeroTail), then the value block: one slot per 6
// bytes from the root's bracket for compact text, per 16 for spaced text,
// plus 8; a scalar root takes the header and one record.
TEST(ReaderDocument, FirstRequests) {
  struct Case {
    std::string input;
    size_t block;
  };
  const std::string long_compact = "[" + std::string(100, '1') + "]";
  const Case cases[] = {
      {"[1,2,3]", (7 / 6 + 8) * 16},
      {"   [1,2,3]", (7 / 6 + 8) * 16},
      {"[ 1,2,3]", (8 / 6 + 8) * 16},
      {"[  1,2,3]", (9 / 16 + 8) * 16},
      {"[\n\t1]", (5 / 16 + 8) * 16},
      {long_compact, (102 / 6 + 8) * 16},
      {"[  " + long_compact.substr(1), (104 / 16 + 8) * 16},
      {"  1", 80},
      {"\"abc\"", 80},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    test::TrackingHeap heap;
    const ReaderAllocator allocator = heap.allocator();
    auto r = read_text(c.input, &allocator);
    ASSERT_TRUE(r.ok()) << r.error.message;
    EXPECT_EQ(heap.requested, (std::vector<size_t>{c.input.size() + ZeroTail, c.block}));
  }
}

// When growth fails, the failure names the first byte of the record that
// needed the room: with the first estimate of `slots`, record index slots-2.
TEST(ReaderDocument, GrowthFailurePosition) {
  std::string array = "[";
  for (int i = 0; i < 300; ++i) array += "1,";
  array += "1]";
  const size_t array_slots = array.size() / 6 + 8;
  const size_t array_element = array_slots - 2 - 5;  // the root is slot 4

  std::string object = "{";
  for (int i = 0; i < 300; ++i) object += "\"a\":1,";
  object += "\"a\":1}";
  const size_t object_slots = object.size() / 6 + 8;
  const size_t object_record = object_slots - 2 - 5;  // keys even, values odd
  const size_t object_position = 1 + 6 * (object_record / 2) + (object_record % 2 ? 4 : 0);

  std::string nested_arrays = "[";
  for (int i = 0; i < 300; ++i) nested_arrays += "[],";
  nested_arrays += "[]]";
  const size_t nested_slots = nested_arrays.size() / 6 + 8;
  const size_t nested_position = 1 + 3 * (nested_slots - 2 - 5);

  struct Case {
    const std::string& input;
    size_t position;
  };
  const Case cases[] = {
      {array, 1 + 2 * array_element},
      {object, object_position},
      {nested_arrays, nested_position},
  };
  for (const auto& c : cases) {
    test::TrackingHeap heap;
    heap.reallocations_allowed = 0;
    const ReaderAllocator allocator = heap.allocator();
    auto r = read_text(c.input, &allocator);
    ASSERT_FALSE(r.ok());
    EXPECT_STREQ(r.error.message, "memory allocation failed");
    EXPECT_EQ(r.error.position, c.position);
    EXPECT_TRUE(heap.live.empty());
    // With growth available the same text reads, and the document owns
    // exactly two blocks.
    test::TrackingHeap good;
    const ReaderAllocator good_allocator = good.allocator();
    auto ok = read_text(c.input, &good_allocator);
    ASSERT_TRUE(ok.ok());
    EXPECT_GT(good.reallocations, 0);
    EXPECT_EQ(good.live.size(), 2u);
    ok.document.reset();
    EXPECT_TRUE(good.live.empty());
  }
}

std::string dense_array(size_t length) {
  // "[1,1,...,1]" of exactly `length` bytes (length odd, >= 3).
  std::string s = "[1";
  while (s.size() + 3 <= length) s += ",1";
  s += ']';
  return s;
}

// malloc's blocks are 16-aligned, so the pool spans the whole buffer.
struct PoolBuffer {
  struct Free {
    void operator()(void* p) const { std::free(p); }
  };
  std::unique_ptr<uint8_t, Free> bytes;
  ReaderAllocator allocator{};
  explicit PoolBuffer(size_t size) : bytes(static_cast<uint8_t*>(std::malloc(size))) {
    EXPECT_TRUE(PoolAllocator::init(&allocator, bytes.get(), size));
  }
};

// A pool with exactly the room the document needs: the copy's chunk, the
// value block with its two spare slots, and the headers. Growth by half
// would overshoot it; the reader must still fit.
TEST(ReaderDocument, GrowthFitsATightPool) {
  for (size_t length : {3001u, 20001u, 99999u}) {
    const std::string text = dense_array(length);
    const size_t records = (length - 1) / 2 + 1;
    const size_t copy_chunk = ((length + ZeroTail + 15) & ~size_t{15}) + 16;
    const size_t block_chunk = (4 + records + 2) * 16 + 16;
    const size_t exact = 16 + copy_chunk + block_chunk;
    {
      PoolBuffer pool(exact);
      auto r = read_text(text, &pool.allocator);
      ASSERT_TRUE(r.ok()) << length << ": " << r.error.message << " at " << r.error.position;
      EXPECT_EQ(r.document->value_count, records);
      // The value block grew in place behind the copy.
      EXPECT_EQ(reinterpret_cast<uint8_t*>(r.document.get()), r.document->input_copy + copy_chunk);
    }
    {
      PoolBuffer pool(exact - 16);
      auto r = read_text(text, &pool.allocator);
      ASSERT_FALSE(r.ok());
      EXPECT_STREQ(r.error.message, "memory allocation failed");
      // The record that found no room was the last element.
      EXPECT_EQ(r.error.position, length - 2);
    }
  }
}

// The densest texts of every shape fit the buffer that loads sizes from the
// input length.
TEST(ReaderDocument, DenseTextsFitTheLoadsBuffer) {
  const char* const units[] = {"1,", "[],", "{},", "\"\",", "0,"};
  for (const char* unit : units) {
    for (size_t n = 0; n < test::scaled(4000); n += 1 + n / 16) {
      std::string text = "[";
      for (size_t i = 0; i < n; ++i) text += unit;
      text += "1]";
      PoolBuffer pool(parse_buffer_size(text.size()));
      auto r = read_text(text, &pool.allocator);
      ASSERT_TRUE(r.ok()) << unit << " x" << n << ": " << r.error.message;
    }
  }
  for (size_t n = 0; n < test::scaled(4000); n += 1 + n / 16) {
    std::string text = "{";
    for (size_t i = 0; i < n; ++i) text += "\"\":1,";
    text += "\"\":1}";
    PoolBuffer pool(parse_buffer_size(text.size()));
    auto r = read_text(text, &pool.allocator);
    ASSERT_TRUE(r.ok()) << "object x" << n << ": " << r.error.message;
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

// The same records whichever variant reads the text; failures the same too,
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
    ASSERT_EQ(a.ok(), b.ok());
    if (a.ok()) {
      EXPECT_EQ(describe(a.document.get()), describe(b.document.get()));
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
  ASSERT_TRUE(a.ok() && b.ok());
  EXPECT_EQ(describe(a.document.get()), describe(b.document.get()));
}

}  // namespace
}  // namespace vellum
