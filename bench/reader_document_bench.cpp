// read_json alone on each corpus document, in place as loads runs it, and for
// canada.json the number reader against strtod on the same number tokens.
//
//   reader_document_bench [benchmark flags] [corpus directory]
//   (default: $VELLUM_CORPUS, else the repository's bench/data)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cpp/corpus.hpp"
#include "bench/reader_bench_support.hpp"
#include "reader/number.hpp"
#include "reader/reader.hpp"

namespace {

namespace fs = std::filesystem;
using namespace vellum;
using vellum::bench::read_counting;

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}


// Offsets of the number tokens outside strings.
std::vector<size_t> number_offsets(const std::string& text) {
  std::vector<size_t> out;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') ++i;
      else if (c == '"') in_string = false;
      continue;
    }
    if (c == '"') {
      in_string = true;
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      out.push_back(i);
      while (i + 1 < text.size() && std::strchr("+-0123456789.eE", text[i + 1]) != nullptr) ++i;
    }
  }
  return out;
}

struct NumberSet {
  std::vector<uint8_t> copy;  // the text, a zero byte and readable padding
  std::vector<size_t> offsets;
  size_t bytes = 0;

  explicit NumberSet(const std::string& text) : copy(text.begin(), text.end()), offsets(number_offsets(text)) {
    copy.resize(text.size() + 1 + bench::ReadablePadding, 0);
    for (size_t at : offsets) {
      size_t end = at + 1;
      while (std::strchr("+-0123456789.eE", static_cast<char>(copy[end])) != nullptr && copy[end] != 0) ++end;
      bytes += end - at;
    }
  }
};

void numbers_with_strtod(benchmark::State& state, const NumberSet& set) {
  const char* base = reinterpret_cast<const char*>(set.copy.data());
  for (auto _ : state) {
    double sum = 0;
    for (size_t at : set.offsets) sum += std::strtod(base + at, nullptr);
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * set.bytes));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * set.offsets.size()));
}

void numbers_with_reader(benchmark::State& state, const NumberSet& set) {
  uint8_t* const begin = const_cast<uint8_t*>(set.copy.data());
  DecodeError error;
  const ReaderInput copy{begin, begin + set.copy.size() - 1 - bench::ReadablePadding, begin + set.copy.size(), &error};
  for (auto _ : state) {
    uint64_t sum = 0;
    for (size_t at : set.offsets) {
      JsonValue v;
      if (read_number(set.copy.data() + at, v, copy) == nullptr) {
        state.SkipWithError(error.message);
        return;
      }
      sum += v.u64;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * set.bytes));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * set.offsets.size()));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  fs::path dir = vellum::test::corpus_dir();
  if (argc > 1) dir = argv[1];

  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().extension() == ".json") files.push_back(entry.path());
  std::sort(files.begin(), files.end());

  static std::vector<std::string> texts;
  static std::vector<NumberSet> number_sets;
  texts.reserve(files.size());
  for (const auto& f : files) {
    texts.push_back(slurp(f));
    const std::string& text = texts.back();
    benchmark::RegisterBenchmark(("read_document/" + f.filename().string()).c_str(),
                                 [&text](benchmark::State& s) { read_counting(s, text); });
    if (f.filename() == "canada.json") {
      number_sets.reserve(1);
      const NumberSet& set = number_sets.emplace_back(text);
      benchmark::RegisterBenchmark("canada_numbers/strtod",
                                   [&set](benchmark::State& s) { numbers_with_strtod(s, set); });
      benchmark::RegisterBenchmark("canada_numbers/read_number",
                                   [&set](benchmark::State& s) { numbers_with_reader(s, set); });
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
