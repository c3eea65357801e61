// Escaping throughput of each form next to a plain copy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/levels.hpp"
#include "kernels/escape/escape.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

// Printable ASCII without quote and backslash, with escapable bytes at the
// given rate (in percent), or UTF-8 text of two- and three-byte characters.
Bytes make_text(size_t n, const std::string& kind) {
  std::mt19937_64 rng(n);
  Bytes b;
  b.reserve(n);
  if (kind == "non_ascii") {
    static const std::string pieces[] = {"h\xc3\xa9", "\xd0\xb4\xd0\xb0 ", "\xe6\x97\xa5\xe6\x9c\xac", "w\xc3\xb6rd "};
    while (b.size() < n) {
      const std::string& p = pieces[rng() % 4];
      for (char c : p)
        if (b.size() < n) b.push_back(static_cast<uint8_t>(c));
    }
    return b;
  }
  const unsigned percent = kind == "escape_10pct" ? 10 : kind == "escape_1pct" ? 1 : 0;
  for (size_t i = 0; i < n; ++i) {
    if (rng() % 100 < percent) {
      b.push_back(static_cast<uint8_t>("\"\\\n\t\x01"[rng() % 5]));
    } else {
      uint8_t c;
      do c = static_cast<uint8_t>(0x20 + rng() % 0x5F);
      while (c == '"' || c == '\\');
      b.push_back(c);
    }
  }
  return b;
}

void run_escape(benchmark::State& state, vellum::EscapeFn routine, const std::string& kind) {
  const size_t n = static_cast<size_t>(state.range(0));
  const Bytes src = make_text(n, kind);
  Bytes dst(vellum::escape_reservation(n));
  for (auto _ : state) {
    size_t written = routine(dst.data(), src.data(), n);
    benchmark::DoNotOptimize(written);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

void run_memcpy(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  const Bytes src = make_text(n, "ascii");
  Bytes dst(n + 2);
  for (auto _ : state) {
    benchmark::DoNotOptimize(dst.data());
    std::memcpy(dst.data() + 1, src.data(), n);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

}  // namespace

int main(int argc, char** argv) {
  struct Form {
    const char* name;
    vellum::EscapeFn routine;
  };
  std::vector<Form> forms;
  for (const auto& level : vellum::bench::host_levels()) {
    const vellum::EscapeFn routine = vellum::simd::pick(vellum::escape_forms, level.features).escape_string;
    if (forms.empty() || forms.back().routine != routine) forms.push_back({level.name, routine});
  }
  const int64_t lengths[] = {8, 16, 64, 1024, 65536};
  for (const char* kind : {"ascii", "escape_1pct", "escape_10pct", "non_ascii"}) {
    if (std::string(kind) == "ascii")
      for (int64_t n : lengths) benchmark::RegisterBenchmark("memcpy", run_memcpy)->Arg(n);
    for (const Form& f : forms)
      for (int64_t n : lengths)
        benchmark::RegisterBenchmark((std::string("escape/") + f.name + "/" + kind).c_str(),
                                     [f, kind](benchmark::State& s) { run_escape(s, f.routine, kind); })
            ->Arg(n);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
}
