// The reader, and the reference reader of the fuzz targets, against the
// grammar's table (reader_grammar.hpp).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "reader/reader.hpp"
#include "tests/cpp/reader_grammar.hpp"
#include "tests/cpp/reader_test_support.hpp"
#include "tests/oracle/json.hpp"

namespace vellum {
namespace {

// Each message belongs to one failure kind.
ReadErrorCode code_of(const char* message) {
  using namespace test::grammar;
  const struct {
    const char* message;
    ReadErrorCode code;
  } kinds[] = {
      {Empty, ReadErrorCode::EmptyInput},          {End, ReadErrorCode::TruncatedInput},
      {Char, ReadErrorCode::UnexpectedCharacter},  {Comma, ReadErrorCode::TrailingComma},
      {After, ReadErrorCode::TrailingContent},     {Literal, ReadErrorCode::InvalidLiteral},
      {Minus, ReadErrorCode::InvalidNumber},       {Zero, ReadErrorCode::InvalidNumber},
      {Point, ReadErrorCode::InvalidNumber},       {Exponent, ReadErrorCode::InvalidNumber},
      {Infinity, ReadErrorCode::InvalidNumber},    {Control, ReadErrorCode::InvalidString},
      {BadEscape, ReadErrorCode::InvalidString},   {BadSequence, ReadErrorCode::InvalidString},
      {High, ReadErrorCode::InvalidString},        {NoLow, ReadErrorCode::InvalidString},
      {Low, ReadErrorCode::InvalidString},
  };
  for (const auto& k : kinds)
    if (std::strcmp(k.message, message) == 0) return k.code;
  ADD_FAILURE() << "no failure kind for '" << message << "'";
  return ReadErrorCode{};
}

// Blocks of unescaped text alive, from the memory the reader is given.
int live_blocks = 0;

TextBuffer::Memory counted_memory() {
  return {[](void* block, size_t size) {
            void* p = std::realloc(block, size);
            if (block == nullptr && p != nullptr) ++live_blocks;
            return p;
          },
          [](void* block) {
            if (block != nullptr) --live_blocks;
            std::free(block);
          }};
}

TEST(ReaderGrammar, EveryRow) {
  for (const test::GrammarRow& row : test::grammar_rows()) {
    SCOPED_TRACE(testing::Message() << "input: " << testing::PrintToString(row.input));
    live_blocks = 0;
    auto r = test::read_text(row.input, counted_memory());
    EXPECT_EQ(live_blocks, 0) << "every block is given back";
    if (row.outcome.accepted()) {
      EXPECT_TRUE(r.ok) << r.error.message << " at " << r.error.position;
      EXPECT_EQ(r.error.code, static_cast<ReadErrorCode>(99)) << "the failure record stays untouched";
      continue;
    }
    ASSERT_FALSE(r.ok);
    EXPECT_STREQ(r.error.message, row.outcome.message);
    EXPECT_EQ(r.error.position, row.outcome.position);
    EXPECT_EQ(r.error.code, code_of(row.outcome.message));
  }
}

// The fuzz targets trust the reference reader: it must read the table too.
TEST(ReaderGrammar, ReferenceReaderAgrees) {
  for (const test::GrammarRow& row : test::grammar_rows()) {
    SCOPED_TRACE(testing::Message() << "input: " << testing::PrintToString(row.input));
    oracle::JsonReader reference(reinterpret_cast<const uint8_t*>(row.input.data()), row.input.size());
    oracle::Value root;
    const bool ok = reference.read_document(root);
    ASSERT_EQ(ok, row.outcome.accepted()) << reference.failure.message;
    if (ok) continue;
    EXPECT_STREQ(reference.failure.message, row.outcome.message);
    EXPECT_EQ(reference.failure.position, row.outcome.position);
    EXPECT_EQ(reference.failure.code, code_of(row.outcome.message));
  }
}

}  // namespace
}  // namespace vellum
