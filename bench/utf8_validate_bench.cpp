// Throughput of the scalar and the AVX2 validator on pure ASCII, on
// generated mixed text and on the corpus documents.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "bench/levels.hpp"
#include "kernels/utf8/utf8_routines.hpp"
#include "tests/cpp/corpus.hpp"
#include "tests/oracle/text.hpp"

namespace {

using vellum::oracle::append_utf8;

std::vector<uint8_t> ascii_text(size_t n) {
  std::vector<uint8_t> t(n);
  for (size_t i = 0; i < n; ++i) t[i] = static_cast<uint8_t>(' ' + i % 95);
  return t;
}

// About one character in four beyond ASCII, spread over all sequence lengths.
std::vector<uint8_t> mixed_text(size_t n) {
  std::mt19937 rng(1);
  std::vector<uint8_t> t;
  while (t.size() < n) {
    switch (rng() % 8) {
      case 0: append_utf8(t, 0x80 + rng() % 0x780); break;
      case 1: append_utf8(t, 0x3040 + rng() % 0x60); break;
      default: t.push_back(static_cast<uint8_t>('a' + rng() % 26)); break;
    }
    if (rng() % 64 == 0) append_utf8(t, 0x1F600 + rng() % 0x50);
  }
  return t;
}

std::vector<uint8_t> corpus(const char* name) {
  std::ifstream in(vellum::test::corpus_dir() + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void run(benchmark::State& state, bool (*validate)(const uint8_t*, size_t), const std::vector<uint8_t>& text) {
  if (text.empty()) {
    state.SkipWithError("no input");
    return;
  }
  for (auto _ : state) {
    bool ok = validate(text.data(), text.size());
    benchmark::DoNotOptimize(ok);
    if (!ok) state.SkipWithError("input rejected");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void register_all() {
  struct Input {
    const char* name;
    std::vector<uint8_t> text;
  };
  static const std::vector<Input> inputs = {
      {"ascii_64k", ascii_text(64 * 1024)},       {"mixed_64k", mixed_text(64 * 1024)},
      {"ascii_100", ascii_text(100)},             {"mixed_100", mixed_text(100)},
      {"twitter", corpus("twitter.json")},        {"citm_catalog", corpus("citm_catalog.json")},
      {"canada", corpus("canada.json")},          {"github_events", corpus("github_events.json")},
  };
  const auto levels = vellum::bench::host_levels();
  for (const Input& in : inputs) {
    for (const auto& level : levels) {
      const auto validate = vellum::simd::pick(vellum::utf8_forms, level.features).validate;
      benchmark::RegisterBenchmark((std::string(level.name) + "/" + in.name).c_str(),
                                   [&in, validate](benchmark::State& s) { run(s, validate, in.text); });
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  register_all();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
