// The grammar's accept/reject table: whole inputs and what reading each one
// gives, either accepted or the failure's exact message and byte position.
// It says nothing of how a reader hands on what it read, so any reader of
// this grammar can be held to it as it stands; values are the number and
// string tests' business, and what loads adds on top (positions in
// characters, Python objects) the Python tests'.
//
// A comment after a row notes where the json module decides otherwise, on
// purpose.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vellum::test {

struct Outcome {
  const char* message = nullptr;  // null: accepted
  size_t position = 0;            // a byte offset into the input

  bool accepted() const { return message == nullptr; }
};

struct GrammarRow {
  std::string input;
  Outcome outcome;
};

namespace grammar {

inline constexpr Outcome Accepted{};

inline constexpr const char* Empty = "input data is empty";
inline constexpr const char* End = "unexpected end of data";
inline constexpr const char* Char = "unexpected character";
inline constexpr const char* Comma = "trailing comma is not allowed";
inline constexpr const char* After = "unexpected content after document";
inline constexpr const char* Literal = "invalid literal";
inline constexpr const char* Minus = "no digit after minus sign";
inline constexpr const char* Zero = "number with leading zero is not allowed";
inline constexpr const char* Point = "no digit after decimal point";
inline constexpr const char* Exponent = "no digit after exponent sign";
inline constexpr const char* Infinity = "number is infinity when parsed as double";
inline constexpr const char* Control = "unexpected control character in string";
inline constexpr const char* BadEscape = "invalid escaped character in string";
inline constexpr const char* BadSequence = "invalid escaped sequence in string";
inline constexpr const char* High = "invalid high surrogate in string";
inline constexpr const char* NoLow = "no low surrogate in string";
inline constexpr const char* Low = "invalid low surrogate in string";

// A row written out: the literal's every byte, NUL bytes included.
struct Row {
  std::string_view input;
  Outcome outcome;

  template <size_t N>
  constexpr Row(const char (&text)[N], Outcome o) : input(text, N - 1), outcome(o) {}
};

// The characters after a backslash that make a two-character escape.
inline constexpr std::string_view SimpleEscapes = "\"\\/bfnrt";

}  // namespace grammar

// Every row: those written out, and the families made by loops.
inline std::vector<GrammarRow> grammar_rows() {
  using namespace grammar;
  static constexpr Row Written[] = {
      // ---------------------------------------------------------------- structure
      {"[]", Accepted},
      {"{}", Accepted},
      {"[[],{},[{}]]", Accepted},
      {"{\"a\":{\"b\":[1,{\"c\":[]}]}}", Accepted},
      {" \t\n\r[ \t\n\r1 \t\n\r, \t\n\r2 \t\n\r] \t\n\r", Accepted},
      {"{\"a\" : 1 , \"b\" : 2}", Accepted},
      {"{\"a\":1,\"a\":2}", Accepted},
      {"{\"a\":1}", Accepted},
      {"{\"\":\"\"}", Accepted},
      {"", {End, 0}},
      {"   ", {Empty, 0}},
      {" \t\n\r", {Empty, 0}},
      // Other whitespace is no whitespace.
      {"\x0B" "1", {Char, 0}},
      {"\x0C" "1", {Char, 0}},
      {"\xC2\xA0" "1", {Char, 0}},
      {"\xE2\x80\xA8" "1", {Char, 0}},
      {"\xE3\x80\x80" "1", {Char, 0}},
      // Cut short anywhere: the end of the input.
      {"[", {End, 1}},
      {"[[", {End, 2}},
      {"[[]", {End, 3}},
      {"[1", {End, 2}},
      {"[1,", {End, 3}},
      {"[1 ", {End, 3}},
      {"[1,[]", {End, 5}},
      {"{", {End, 1}},
      {"{\"a\"", {End, 4}},
      {"{\"a\":", {End, 5}},
      {"{\"a\":1", {End, 6}},
      {"{\"a\":1,", {End, 7}},
      {"{\"a\":{}", {End, 7}},
      {"{\"ab", {End, 4}},
      // A comma before a closing bracket: at the comma.
      {"[1,]", {Comma, 2}},
      {"[1 , ]", {Comma, 3}},
      {"[1,\n  ]", {Comma, 2}},
      {"[1,]]", {Comma, 2}},
      {"{\"a\":1,}", {Comma, 6}},
      {"{\"a\":[1,2],}", {Comma, 10}},
      {"[{\"a\":1 , }]", {Comma, 8}},
      // Every structural character where it has no place.
      {"]", {Char, 0}},
      {"}", {Char, 0}},
      {",", {Char, 0}},
      {":", {Char, 0}},
      {"x", {Char, 0}},
      {"/", {Char, 0}},
      {"[}", {Char, 1}},
      {"[,]", {Char, 1}},
      {"[:]", {Char, 1}},
      {"[,1]", {Char, 1}},
      {"[{]", {Char, 2}},
      {"[}]", {Char, 1}},
      {"[1 2]", {Char, 3}},
      {"[1[]", {Char, 2}},
      {"[1{]", {Char, 2}},
      {"[1}]", {Char, 2}},
      {"[1}", {Char, 2}},
      {"[1:]", {Char, 2}},
      {"[1,{]", {Char, 4}},
      {"[1,}]", {Char, 3}},
      {"[1,,]", {Char, 3}},
      {"[1,,2]", {Char, 3}},
      {"[1,:]", {Char, 3}},
      {"{]", {Char, 1}},
      {"{,}", {Char, 1}},
      {"{1:2}", {Char, 1}},
      {"{[:1}", {Char, 1}},
      {"{]:1}", {Char, 1}},
      {"{{:1}", {Char, 1}},
      {"{,:1}", {Char, 1}},
      {"{::1}", {Char, 1}},
      {"{'a':1}", {Char, 1}},
      {"{\"a\"}", {Char, 4}},
      {"{\"a\" 1}", {Char, 5}},
      {"{\"a\"[1}", {Char, 4}},
      {"{\"a\"]1}", {Char, 4}},
      {"{\"a\"{1}", {Char, 4}},
      {"{\"a\"}1}", {Char, 4}},
      {"{\"a\",1}", {Char, 4}},
      {"{\"a\":}", {Char, 5}},
      {"{\"a\":]", {Char, 5}},
      {"{\"a\":[}", {Char, 6}},
      {"{\"a\":]}", {Char, 5}},
      {"{\"a\":}}", {Char, 5}},
      {"{\"a\":,}", {Char, 5}},
      {"{\"a\"::}", {Char, 5}},
      {"{\"a\":1[}", {Char, 6}},
      {"{\"a\":1]}", {Char, 6}},
      {"{\"a\":1{}", {Char, 6}},
      {"{\"a\":1:}", {Char, 6}},
      {"{\"a\":1]", {Char, 6}},
      {"{\"a\":1 \"b\":2}", {Char, 7}},
      {"{\"a\":1,\"b\"}", {Char, 10}},
      {"{\"a\":1,2}", {Char, 7}},
      {"[\"\xC3\xA9\", x]", {Char, 7}},
      {"['a']", {Char, 1}},
      {"//x\n[]", {Char, 0}},
      {"//c\n[1]", {Char, 0}},
      // Anything after the document.
      {"1 2", {After, 2}},
      {"[1]x", {After, 3}},
      {"[1]]", {After, 3}},
      {"[] []", {After, 3}},
      {"[1] [2]", {After, 4}},
      {"[]]", {After, 2}},
      {"[][", {After, 2}},
      {"[]{", {After, 2}},
      {"[]}", {After, 2}},
      {"[],", {After, 2}},
      {"[]:", {After, 2}},
      {"{}:1}", {After, 2}},
      {"{\"a\":1}}", {After, 7}},
      {"\"a\" \"b\"", {After, 4}},
      {"[1]/*c*/", {After, 3}},
      // ---------------------------------------------------------------- literals
      {"true", Accepted},
      {"false", Accepted},
      {"null", Accepted},
      {"[true,false,null]", Accepted},
      {"t", {End, 1}},
      {"f", {End, 1}},
      {"nul", {End, 3}},
      {"fals", {End, 4}},
      {"[n", {End, 2}},
      {"[tru", {End, 4}},
      {"trux", {Literal, 0}},
      {"tru e", {Literal, 0}},
      {"falsx", {Literal, 0}},
      {"nulx", {Literal, 0}},
      {"[nul]", {Literal, 1}},
      {"[tx", {Literal, 1}},
      {"tr\0e", {Literal, 0}},
      {"truex", {After, 4}},
      {"[truex]", {Char, 5}},
      {"True", {Char, 0}},
      {"undefined", {Char, 0}},
      {"NaN", {Char, 0}},          // the json module accepts NaN
      {"[NaN]", {Char, 1}},        // the json module accepts NaN
      {"Infinity", {Char, 0}},     // the json module accepts Infinity
      {"-Infinity", {Minus, 1}},  // the json module accepts -Infinity
      // ---------------------------------------------------------------- numbers
      {"0", Accepted},
      {"-0", Accepted},
      {"1", Accepted},
      {"-1", Accepted},
      {"10.5", Accepted},
      {"1.5", Accepted},
      {"-0.0", Accepted},
      {"0.000", Accepted},
      {"0e0", Accepted},
      {"-0e5", Accepted},
      {"1e2", Accepted},
      {"1E2", Accepted},
      {"1e+2", Accepted},
      {"1e-2", Accepted},
      {"1.25E-1", Accepted},
      {"0.1", Accepted},
      {"0.30000000000000004", Accepted},
      {"3.141592653589793238462643383279502884197169399375105820974944", Accepted},
      {"9223372036854775807", Accepted},
      {"-9223372036854775808", Accepted},
      {"18446744073709551615", Accepted},
      {"9007199254740993", Accepted},
      {"9007199254740993.0", Accepted},
      {"9007199254740995.0", Accepted},
      {"-9223372036854775809", Accepted},            // the json module reads an int
      {"18446744073709551616", Accepted},            // the json module reads an int
      {"123456789012345678901234567890", Accepted},  // the json module reads an int
      {"1e308", Accepted},
      {"1.7976931348623157e308", Accepted},
      {"-1.7976931348623157e308", Accepted},
      {"2.2250738585072014e-308", Accepted},
      {"4.9e-324", Accepted},
      {"2.4703282292062327e-324", Accepted},
      {"2.4703282292062328e-324", Accepted},
      {"1e-400", Accepted},
      {"-1e-400", Accepted},
      {"1e-99999999999999999999", Accepted},
      {"1e0000000000000000000001", Accepted},
      {"-", {End, 1}},
      {"[-", {End, 2}},
      {"1.", {End, 2}},
      {"1e", {End, 2}},
      {"1e+", {End, 3}},
      {"-a", {Minus, 1}},
      {"[-]", {Minus, 2}},
      {"-.5", {Minus, 1}},
      {"--1", {Minus, 1}},
      {"01", {Zero, 0}},
      {"00", {Zero, 0}},
      {"-01", {Zero, 1}},
      {"[-01]", {Zero, 2}},
      {"1.e5", {Point, 2}},
      {"[1.]", {Point, 3}},
      {"1e+x", {Exponent, 3}},
      {"[1e]", {Exponent, 3}},
      {"1e309", {Infinity, 0}},                     // the json module gives inf
      {"-1e309", {Infinity, 0}},                    // the json module gives -inf
      {"[1e309]", {Infinity, 1}},                   // the json module gives inf
      {"[-1e309]", {Infinity, 1}},                  // the json module gives -inf
      {"[1.7976931348623159e308]", {Infinity, 1}},  // the json module gives inf
      {"1e99999999999999999999", {Infinity, 0}},    // the json module gives inf
      {"+1", {Char, 0}},
      {".5", {Char, 0}},
      {"[1.5x]", {Char, 4}},
      {"0x10", {After, 1}},
      {"1_000", {After, 1}},
      {"1.0.0", {After, 3}},
      // ---------------------------------------------------------------- strings
      {"\"\"", Accepted},
      {"\"\\\"\\\\\\/\"", Accepted},
      {"\"\\u0041\"", Accepted},
      {"\"\\u00e9\"", Accepted},
      {"\"\\u00E9\"", Accepted},
      {"\"\\u20ac\"", Accepted},
      {"\"\\uffff\"", Accepted},
      {"\"\\ud83d\\ude00\"", Accepted},
      {"\"\\udbff\\udfff\"", Accepted},
      {"\"\\u0000\"", Accepted},
      {"\"a\\u0000b\"", Accepted},
      {"\"\\u001f\"", Accepted},
      {"\"\x7F\"", Accepted},
      {"\"\xC3\xA9\\n\xE2\x82\xAC\"", Accepted},
      {"\"\xC2\x80\"", Accepted},
      {"\"\xDF\xBF\"", Accepted},
      {"\"\xE0\xA0\x80\"", Accepted},
      {"\"\xED\x9F\xBF\"", Accepted},
      {"\"\xEE\x80\x80\"", Accepted},
      {"\"\xEF\xBF\xBF\"", Accepted},
      {"\"\xF0\x90\x80\x80\"", Accepted},
      {"\"\xF4\x8F\xBF\xBF\"", Accepted},
      {"\"", {End, 1}},
      {"\"abc", {End, 4}},
      {"[\"abc", {End, 5}},
      {"\"0123456789abcdef0123456789", {End, 27}},
      {"\"\\", {End, 2}},
      {"[\"\\", {End, 3}},
      {"\"\\n\\", {End, 4}},
      {"\"\\nabc", {End, 6}},
      {"\"\\u", {End, 3}},
      {"\"\\u12", {End, 5}},
      {"[\"\\u12", {End, 6}},
      {"\"\\ud83d", {End, 7}},
      {"[\"\\ud83d", {End, 8}},
      {"\"\\ud83d\\", {End, 8}},
      {"\"\\ud83d\\u", {End, 9}},
      {"\"\\ud83d\\uDC0", {End, 12}},
      {"\"\x1F\"", {Control, 1}},
      {"\"\0\"", {Control, 1}},
      {"\"a\0b\"", {Control, 2}},
      {"\"0123456789abcdefghij\x01\"", {Control, 21}},
      {"\"\\n0123456789abcdefghij\x01\"", {Control, 23}},
      {"\"\\n\t\"", {Control, 3}},
      {"[\"a\tb\"]", {Control, 3}},
      {"{\"a\nb\":1}", {Control, 3}},
      {"\"\\U0041\"", {BadEscape, 2}},
      {"[\"\\x\"]", {BadEscape, 3}},
      {"\"\\u12\"", {BadSequence, 1}},
      {"\"\\u\"", {BadSequence, 1}},
      {"\"\\u12G4\"", {BadSequence, 1}},
      {"\"\\u12G", {BadSequence, 1}},
      {"\"ab\\n\\u-123\"", {BadSequence, 5}},
      {"{\"\\u12G4\":1}", {BadSequence, 2}},
      {"\"\\ud83d\\u12G4\"", {BadSequence, 7}},
      {"\"\\ud83d\\u12G", {BadSequence, 7}},
      {"\"\\ude00\"", {High, 1}},  // the json module accepts a lone surrogate
      {"\"ab\\udfff\"", {High, 3}},
      {"\"\\ud83d\"", {NoLow, 7}},  // the json module accepts a lone surrogate
      {"\"\\ud83dx\"", {NoLow, 7}},  // the json module accepts a lone surrogate
      {"\"\\ud83dx", {NoLow, 7}},
      {"\"\\ud83d\\n\"", {NoLow, 7}},
      {"\"\\ud83d\\u0041\"", {Low, 7}},  // the json module accepts a lone surrogate
      {"\"\\ud83d\\ud83d\"", {Low, 7}},  // the json module accepts a lone surrogate
      // ---------------------------------------------------------------- NUL and the byte-order mark
      {"\0", {Char, 0}},
      {"[\0]", {Char, 1}},
      {"1\0", {After, 1}},  // the json module takes a NUL among the first bytes for UTF-16
      {"[]\0 ", {After, 2}},
      {"\xEF\xBB\xBF[]", {Char, 0}},  // the json module skips a byte-order mark before bytes
  };
  std::vector<GrammarRow> rows;
  for (const Row& r : Written) rows.push_back({std::string(r.input), r.outcome});
  // A long mantissa scaled back down.
  rows.push_back({"1" + std::string(400, '0') + "e-400", Accepted});
  // Every character after a backslash: two-character escapes, \u, and the
  // rest.
  for (int c = 0x20; c < 0x7F; ++c) {
    const std::string text = "\"\\" + std::string(1, static_cast<char>(c)) + "\"";
    if (SimpleEscapes.find(static_cast<char>(c)) != std::string_view::npos)
      rows.push_back({text, Accepted});
    else if (c != 'u')
      rows.push_back({text, {BadEscape, 2}});
  }
  // Every raw control character inside a string.
  for (int c = 0; c < 0x20; ++c) rows.push_back({"\"a" + std::string(1, static_cast<char>(c)) + "b\"", {Control, 2}});
  return rows;
}

}  // namespace vellum::test
