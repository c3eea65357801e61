// The string reader on generated documents, through read_document as loads
// runs it: long strings without escapes, long strings with frequent escapes,
// and many short strings (keys and small values).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "reader/reader.hpp"
#include "bench/levels.hpp"
#include "bench/reader_bench_support.hpp"
#include "reader/string.hpp"

namespace {

using namespace vellum;
using vellum::bench::read_counting;


// `count` strings of `length` content bytes; `escape_percent` of the
// characters are written as \n, \", \\ or \t.
std::string long_strings(size_t count, size_t length, unsigned escape_percent) {
  std::mt19937 rng(7);
  const char* const escapes[] = {"\\n", "\\\"", "\\\\", "\\t"};
  std::string out = "[";
  for (size_t i = 0; i < count; ++i) {
    if (i != 0) out += ',';
    out += '"';
    for (size_t j = 0; j < length; ++j) {
      if (rng() % 100 < escape_percent) out += escapes[rng() % 4];
      else out += static_cast<char>('a' + rng() % 26);
    }
    out += '"';
  }
  out += ']';
  return out;
}

// Objects with short keys and string values of 5 to 30 bytes.
std::string short_strings(size_t objects) {
  std::mt19937 rng(11);
  auto word = [&](size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>('a' + rng() % 26);
    return s;
  };
  std::string out = "[";
  for (size_t i = 0; i < objects; ++i) {
    if (i != 0) out += ',';
    out += '{';
    for (int k = 0; k < 6; ++k) {
      if (k != 0) out += ',';
      out += '"' + word(4 + rng() % 8) + "\":\"" + word(5 + rng() % 26) + '"';
    }
    out += '}';
  }
  out += ']';
  return out;
}

// read_string alone over every string token of `text`, with `routines`.
void read_strings(benchmark::State& state, const std::string& text, const StringRoutines& routines) {
  const std::vector<uint8_t> bytes = bench::padded_text(text);
  std::vector<size_t> quotes;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '"') continue;
    quotes.push_back(i);
    for (++i; text[i] != '"'; ++i)
      if (text[i] == '\\') ++i;
  }
  DecodeError error;
  const ReaderInput bounds{bytes.data(), bytes.data() + text.size(), bytes.data() + bytes.size(), &error};
  TextBuffer buffer({[](void* b, size_t n) { return std::realloc(b, n); }, [](void* b) { std::free(b); }});
  for (auto _ : state) {
    for (size_t at : quotes) {
      StringToken s;
      if (read_string_using(routines, bytes.data() + at, s, buffer, bounds) == nullptr) {
        state.SkipWithError(error.message);
        return;
      }
      benchmark::DoNotOptimize(s.length);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  static const std::string plain = long_strings(16, 65536, 0);
  static const std::string escaped = long_strings(16, 65536, 10);
  static const std::string sparse = long_strings(16, 65536, 1);
  static const std::string shorts = short_strings(20000);
  static const std::string medium = long_strings(20000, 40, 0);
  static const std::string plain_l2 = long_strings(16, 8192, 0);
  benchmark::RegisterBenchmark("strings/long_plain", [](benchmark::State& s) { read_counting(s, plain); });
  benchmark::RegisterBenchmark("strings/long_escaped_10pc", [](benchmark::State& s) { read_counting(s, escaped); });
  benchmark::RegisterBenchmark("strings/long_escaped_1pc", [](benchmark::State& s) { read_counting(s, sparse); });
  benchmark::RegisterBenchmark("strings/short_objects", [](benchmark::State& s) { read_counting(s, shorts); });
  benchmark::RegisterBenchmark("strings/medium_40", [](benchmark::State& s) { read_counting(s, medium); });
  const struct {
    const char* name;
    const std::string* text;
  } sets[] = {{"long_plain", &plain}, {"long_escaped_10pc", &escaped}, {"medium_40", &medium}, {"plain_8k", &plain_l2}};
  for (const auto& set : sets) {
    const std::string* text = set.text;
    for (const auto& level : bench::host_levels()) {
      const StringRoutines routines = simd::pick(string_forms, level.features);
      benchmark::RegisterBenchmark((std::string("read_string/") + level.name + "/" + set.name).c_str(),
                                   [text, routines](benchmark::State& s) { read_strings(s, *text, routines); });
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
