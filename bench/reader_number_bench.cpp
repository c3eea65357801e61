// Number reading: ns per number for the reader against strtod and from_chars.
// The corpus directory comes from VELLUM_CORPUS (default the repository's bench/data).
#include "reader/number.hpp"

#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/cpp/corpus.hpp"

namespace {

using vellum::JsonValue;
using vellum::DecodeError;
using vellum::ReaderInput;

// A text holding numbers, with a zero tail, and the offsets where they start.
struct Numbers {
  std::vector<uint8_t> text;
  std::vector<size_t> starts;
  std::string error;
};

void index_numbers(Numbers& n) {
  bool in_string = false;
  for (size_t i = 0; i < n.text.size(); ++i) {
    const uint8_t c = n.text[i];
    if (in_string) {
      if (c == '\\') ++i;
      else if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      n.starts.push_back(i);
      while (i + 1 < n.text.size() && std::strchr("0123456789.eE+-", n.text[i + 1]) && n.text[i + 1] != 0) ++i;
    }
  }
  n.text.insert(n.text.end(), 1 + vellum::NumberReach, 0);
}

ReaderInput copy_of(const Numbers& n, DecodeError& error) {
  const uint8_t* begin = n.text.data();
  return {begin, begin + n.text.size() - 1 - vellum::NumberReach, begin + n.text.size(), &error};
}

Numbers load_corpus(const char* name) {
  Numbers n;
  std::string path = vellum::test::corpus_dir() + "/" + name;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    n.error = "cannot open " + path;
    return n;
  }
  char buf[65536];
  for (size_t got; (got = std::fread(buf, 1, sizeof buf, f)) > 0;) n.text.insert(n.text.end(), buf, buf + got);
  std::fclose(f);
  index_numbers(n);
  return n;
}

Numbers synthetic(int kind) {
  std::mt19937_64 rng(42);
  std::string s;
  for (int i = 0; i < 100000; ++i) {
    char buf[64];
    switch (kind) {
      case 0:  // integers of 1 to 10 digits
        std::snprintf(buf, sizeof buf, "%llu,", static_cast<unsigned long long>(rng() % 10000000000) >> (rng() % 32));
        break;
      case 1:  // prices and measurements
        std::snprintf(buf, sizeof buf, "%.*f,", static_cast<int>(rng() % 4 + 1), static_cast<double>(rng() % 1000000) / 100.0);
        break;
      case 3: {  // integers of 7 to 64 bits
        const unsigned bits = 7 + static_cast<unsigned>(rng() % 58);
        std::snprintf(buf, sizeof buf, "%llu,", static_cast<unsigned long long>(rng() >> (64 - bits)));
        break;
      }
      case 4: {  // shortest round-trip doubles in [0, 1)
        auto r = std::to_chars(buf, buf + 60, static_cast<double>(rng() >> 11) * 0x1p-53);
        *r.ptr++ = ',';
        *r.ptr = 0;
        break;
      }
      default:  // shortest round-trip doubles of every magnitude
        auto r = std::to_chars(buf, buf + 60, std::bit_cast<double>(rng() % (uint64_t{0x7FF} << 52)));
        *r.ptr++ = ',';
        *r.ptr = 0;
        break;
    }
    s += buf;
  }
  Numbers n;
  n.text.assign(s.begin(), s.end());
  index_numbers(n);
  return n;
}

const Numbers& corpus(int which) {
  static const Numbers canada = load_corpus("canada.json");
  static const Numbers integers = synthetic(0);
  static const Numbers decimals = synthetic(1);
  static const Numbers shortest = synthetic(2);
  static const Numbers wide_integers = synthetic(3);
  static const Numbers unit = synthetic(4);
  static const Numbers* all[] = {&canada, &integers, &decimals, &shortest, &wide_integers, &unit};
  return *all[which];
}

const char* const Names[] = {"canada", "integers", "decimals", "shortest", "int64", "unit"};

void BM_read_number(benchmark::State& state) {
  const Numbers& n = corpus(static_cast<int>(state.range(0)));
  if (!n.error.empty()) return state.SkipWithError(n.error.c_str());
  state.SetLabel(Names[state.range(0)]);
  JsonValue v;
  DecodeError error;
  const ReaderInput copy = copy_of(n, error);
  for (auto _ : state) {
    for (size_t start : n.starts) {
      const uint8_t* end = vellum::read_number(n.text.data() + start, v, copy);
      benchmark::DoNotOptimize(end);
      benchmark::DoNotOptimize(v);
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n.starts.size()));
  state.counters["ns_per_number"] = benchmark::Counter(
      static_cast<double>(state.iterations() * n.starts.size()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Each number found from the end of the one before, as the document reader
// does: the position carries a dependency from number to number.
void BM_read_number_chained(benchmark::State& state) {
  const Numbers& n = corpus(static_cast<int>(state.range(0)));
  if (!n.error.empty()) return state.SkipWithError(n.error.c_str());
  state.SetLabel(Names[state.range(0)]);
  JsonValue v;
  DecodeError error;
  const ReaderInput copy = copy_of(n, error);
  const uint8_t* const first = n.text.data() + n.starts.front();
  const uint8_t* const last = n.text.data() + n.starts.back();
  for (auto _ : state) {
    const uint8_t* p = first;
    for (;;) {
      p = vellum::read_number(p, v, copy);
      benchmark::DoNotOptimize(v);
      if (p == nullptr || p > last) break;
      while (!((*p >= '0' && *p <= '9') || *p == '-')) ++p;
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n.starts.size()));
  state.counters["ns_per_number"] = benchmark::Counter(
      static_cast<double>(state.iterations() * n.starts.size()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_strtod(benchmark::State& state) {
  const Numbers& n = corpus(static_cast<int>(state.range(0)));
  if (!n.error.empty()) return state.SkipWithError(n.error.c_str());
  state.SetLabel(Names[state.range(0)]);
  for (auto _ : state) {
    for (size_t start : n.starts) {
      char* end;
      double d = std::strtod(reinterpret_cast<const char*>(n.text.data() + start), &end);
      benchmark::DoNotOptimize(d);
      benchmark::DoNotOptimize(end);
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n.starts.size()));
  state.counters["ns_per_number"] = benchmark::Counter(
      static_cast<double>(state.iterations() * n.starts.size()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_from_chars(benchmark::State& state) {
  const Numbers& n = corpus(static_cast<int>(state.range(0)));
  if (!n.error.empty()) return state.SkipWithError(n.error.c_str());
  state.SetLabel(Names[state.range(0)]);
  const char* last = reinterpret_cast<const char*>(n.text.data() + n.text.size());
  for (auto _ : state) {
    for (size_t start : n.starts) {
      double d;
      auto r = std::from_chars(reinterpret_cast<const char*>(n.text.data() + start), last, d);
      benchmark::DoNotOptimize(d);
      benchmark::DoNotOptimize(r.ptr);
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n.starts.size()));
  state.counters["ns_per_number"] = benchmark::Counter(
      static_cast<double>(state.iterations() * n.starts.size()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_read_number)->DenseRange(0, 5);
BENCHMARK(BM_read_number_chained)->DenseRange(0, 5);
BENCHMARK(BM_strtod)->DenseRange(0, 5);
BENCHMARK(BM_from_chars)->DenseRange(0, 5);

}  // namespace

BENCHMARK_MAIN();
