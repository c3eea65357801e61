// Shape and decoding throughput of UTF-8 text, next to a plain copy.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/levels.hpp"
#include "kernels/utf8/utf8_decode.hpp"
#include "kernels/utf8/utf8_routines.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

// "ascii", "latin" (one é in 16 bytes), "bmp" (Cyrillic and CJK) or "astral"
// (one emoji in 32 bytes), cut at a character boundary.
Bytes make_text(size_t n, const std::string& kind) {
  std::string unit = kind == "latin"    ? "caf\xc3\xa9 au lait, s"
                     : kind == "bmp"    ? "\xd0\xb4\xd0\xb0 \xe6\x97\xa5\xe6\x9c\xac "
                     : kind == "astral" ? "smile \xf0\x9f\x98\x80 and keep on go"
                                        : "plain ascii text";
  Bytes b;
  while (b.size() + unit.size() <= n) b.insert(b.end(), unit.begin(), unit.end());
  while (b.size() < n) b.push_back('x');
  return b;
}

const char* const kinds[] = {"ascii", "latin", "bmp", "astral"};
const int64_t lengths[] = {16, 64, 1024, 65536};

void run_shape(benchmark::State& state, vellum::Utf8Shape (*routine)(const uint8_t*, size_t), const char* kind) {
  const Bytes src = make_text(static_cast<size_t>(state.range(0)), kind);
  for (auto _ : state) {
    vellum::Utf8Shape s = routine(src.data(), src.size());
    benchmark::DoNotOptimize(s);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.size()));
}

void run_count(benchmark::State& state, size_t (*routine)(const uint8_t*, size_t)) {
  const Bytes src = make_text(static_cast<size_t>(state.range(0)), "bmp");
  for (auto _ : state) {
    size_t c = routine(src.data(), src.size());
    benchmark::DoNotOptimize(c);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.size()));
}

void run_decode(benchmark::State& state, const char* kind) {
  const Bytes src = make_text(static_cast<size_t>(state.range(0)), kind);
  const vellum::Utf8Shape shape = vellum::portable::utf8_shape(src.data(), src.size());
  const unsigned unit = shape.max_char <= 0xFF ? 1 : shape.max_char <= 0xFFFF ? 2 : 4;
  std::vector<uint8_t> dst(shape.chars * unit + 4);
  for (auto _ : state) {
    vellum::utf8_decode(src.data(), src.size(), dst.data(), unit);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.size()));
}

void run_memcpy(benchmark::State& state) {
  const Bytes src = make_text(static_cast<size_t>(state.range(0)), "ascii");
  Bytes dst(src.size());
  for (auto _ : state) {
    benchmark::DoNotOptimize(dst.data());
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.size()));
}

}  // namespace

int main(int argc, char** argv) {
  for (int64_t n : lengths) benchmark::RegisterBenchmark("memcpy", run_memcpy)->Arg(n);
  const auto levels = vellum::bench::host_levels();
  for (const char* kind : kinds)
    for (const auto& level : levels)
      for (int64_t n : lengths)
        benchmark::RegisterBenchmark((std::string("shape/") + level.name + "/" + kind).c_str(),
                                     [level, kind](benchmark::State& s) {
                                       run_shape(s, vellum::simd::pick(vellum::utf8_forms, level.features).shape, kind);
                                     })
            ->Arg(n);
  for (const auto& level : levels)
    for (int64_t n : lengths)
      benchmark::RegisterBenchmark((std::string("count/") + level.name + "/bmp").c_str(), [level](benchmark::State& s) {
        run_count(s, vellum::simd::pick(vellum::utf8_forms, level.features).count_chars);
      })->Arg(n);
  for (const char* kind : kinds)
    for (int64_t n : lengths)
      benchmark::RegisterBenchmark((std::string("decode/") + kind).c_str(),
                                   [kind](benchmark::State& s) { run_decode(s, kind); })
          ->Arg(n);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
}
