// Number formatting kernels next to std::to_chars on the same inputs.
#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "kernels/number/format.hpp"

namespace {

constexpr size_t Count = 4096;

const std::vector<double>& random_doubles() {
  static const std::vector<double> v = [] {
    std::mt19937_64 rng(1);
    std::vector<double> out;
    while (out.size() < Count) {
      const double d = std::bit_cast<double>(rng());
      if (std::isfinite(d)) out.push_back(d);
    }
    return out;
  }();
  return v;
}

// Doubles as JSON documents often hold them: a few digits in a modest range.
const std::vector<double>& short_doubles() {
  static const std::vector<double> v = [] {
    std::mt19937_64 rng(2);
    std::vector<double> out;
    for (size_t i = 0; i < Count; ++i) out.push_back(static_cast<double>(rng() % 1000000) / 100.0);
    return out;
  }();
  return v;
}

const std::vector<float>& random_floats() {
  static const std::vector<float> v = [] {
    std::mt19937 rng(3);
    std::vector<float> out;
    while (out.size() < Count) {
      const float f = std::bit_cast<float>(static_cast<uint32_t>(rng()));
      if (std::isfinite(f)) out.push_back(f);
    }
    return out;
  }();
  return v;
}

// The mixed pool of the float formatting literature: random finite values
// (every exponent) rounded to 1, 2, ..., MaxDigits significant digits, each
// count equally often, in random order.
template <class T, int MaxDigits>
const std::vector<T>& mixed_digits() {
  static const std::vector<T> v = [] {
    std::mt19937_64 rng(sizeof(T) == 8 ? 7 : 8);
    std::vector<T> out;
    constexpr size_t PerCount = 1024;
    for (int digits = 1; digits <= MaxDigits; ++digits) {
      for (size_t i = 0; i < PerCount;) {
        T x;
        if constexpr (sizeof(T) == 8)
          x = std::bit_cast<double>(rng());
        else
          x = std::bit_cast<float>(static_cast<uint32_t>(rng()));
        if (!std::isfinite(x) || x == 0) continue;
        char text[64];
        std::snprintf(text, sizeof text, "%.*e", digits - 1, static_cast<double>(x));
        if constexpr (sizeof(T) == 8)
          x = std::strtod(text, nullptr);
        else
          x = std::strtof(text, nullptr);
        if (!std::isfinite(x) || x == 0) continue;
        out.push_back(x);
        ++i;
      }
    }
    std::shuffle(out.begin(), out.end(), rng);
    return out;
  }();
  return v;
}

// Every length from 1 to 20 digits equally often.
const std::vector<uint64_t>& mixed_u64() {
  static const std::vector<uint64_t> v = [] {
    std::mt19937_64 rng(4);
    std::vector<uint64_t> out;
    for (size_t i = 0; i < Count; ++i) out.push_back(rng() >> (rng() % 64));
    return out;
  }();
  return v;
}

const std::vector<uint64_t>& small_u64() {
  static const std::vector<uint64_t> v = [] {
    std::mt19937_64 rng(5);
    std::vector<uint64_t> out;
    for (size_t i = 0; i < Count; ++i) out.push_back(rng() % 1000);
    return out;
  }();
  return v;
}

// The values of the numpy workloads of bench/harness.py (workloads.py,
// uniform_f64 and uniform_f32): splitmix64 over seed, seed + 1, ..., its top
// 53 or 24 bits scaled into [0, 1).
uint64_t splitmix64(uint64_t i) {
  uint64_t z = i * 0x9E3779B97F4A7C15u;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

constexpr size_t WorkloadCount = 1000000;

const std::vector<double>& workload_doubles() {  // numpy_float64_1m
  static const std::vector<double> v = [] {
    std::vector<double> out(WorkloadCount);
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<double>(splitmix64(i + 10) >> 11) * 0x1p-53;
    return out;
  }();
  return v;
}

const std::vector<float>& workload_floats() {  // numpy_float32_1m
  static const std::vector<float> v = [] {
    std::vector<float> out(WorkloadCount);
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<float>(splitmix64(i + 11) >> 40) * 0x1p-24f;
    return out;
  }();
  return v;
}

template <class T, class Fn>
void run(benchmark::State& state, const std::vector<T>& values, Fn fn) {
  alignas(64) uint8_t buf[128];
  for (auto _ : state) {
    for (T v : values) {
      benchmark::DoNotOptimize(fn(buf, v));
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * values.size()));
}

uint8_t* ours_f64(uint8_t* d, double v) { return vellum::format_f64(d, v); }
uint8_t* ours_f32(uint8_t* d, float v) { return vellum::format_f32(d, v); }
template <class T>
char* std_chars(uint8_t* d, T v) {
  char* p = reinterpret_cast<char*>(d);
  return std::to_chars(p, p + 64, v).ptr;
}
// The shortest formatting of fmt as Debian ships it (a shared library).
template <class T>
char* fmt_chars(uint8_t* d, T v) {
  return fmt::format_to(reinterpret_cast<char*>(d), "{}", v);
}
size_t ours_u64(uint8_t* d, uint64_t v) { return vellum::format_u64(v, d); }

void F64MixedVellum(benchmark::State& s) { run(s, mixed_digits<double, 17>(), ours_f64); }
void F64MixedFmt(benchmark::State& s) { run(s, mixed_digits<double, 17>(), fmt_chars<double>); }
void F64MixedToChars(benchmark::State& s) { run(s, mixed_digits<double, 17>(), std_chars<double>); }
void F32MixedVellum(benchmark::State& s) { run(s, mixed_digits<float, 9>(), ours_f32); }
void F32MixedFmt(benchmark::State& s) { run(s, mixed_digits<float, 9>(), fmt_chars<float>); }
void F32MixedToChars(benchmark::State& s) { run(s, mixed_digits<float, 9>(), std_chars<float>); }

void F64RandomVellum(benchmark::State& s) { run(s, random_doubles(), ours_f64); }
void F64RandomToChars(benchmark::State& s) { run(s, random_doubles(), std_chars<double>); }
void F64RandomFmt(benchmark::State& s) { run(s, random_doubles(), fmt_chars<double>); }
void F64ShortVellum(benchmark::State& s) { run(s, short_doubles(), ours_f64); }
void F64ShortToChars(benchmark::State& s) { run(s, short_doubles(), std_chars<double>); }
void F32RandomVellum(benchmark::State& s) { run(s, random_floats(), ours_f32); }
void F32RandomToChars(benchmark::State& s) { run(s, random_floats(), std_chars<float>); }
void U64MixedVellum(benchmark::State& s) { run(s, mixed_u64(), ours_u64); }
void U64MixedToChars(benchmark::State& s) { run(s, mixed_u64(), std_chars<uint64_t>); }
void U64SmallVellum(benchmark::State& s) { run(s, small_u64(), ours_u64); }
void U64SmallToChars(benchmark::State& s) { run(s, small_u64(), std_chars<uint64_t>); }

// Formatting alone, into a buffer that stays in the cache, and formatting
// into one contiguous output as dumps does (separators included).
template <class T, class Fn>
void run_stream(benchmark::State& state, const std::vector<T>& values, Fn fn) {
  std::vector<uint8_t> out(values.size() * 26 + 64);
  for (auto _ : state) {
    uint8_t* p = out.data();
    for (T v : values) {
      p = fn(p, v);
      *p++ = ',';
    }
    benchmark::DoNotOptimize(p);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * values.size()));
}

void F64WorkloadVellum(benchmark::State& s) { run(s, workload_doubles(), ours_f64); }
void F64WorkloadStreamVellum(benchmark::State& s) { run_stream(s, workload_doubles(), ours_f64); }
void F32WorkloadVellum(benchmark::State& s) { run(s, workload_floats(), ours_f32); }
void F32WorkloadStreamVellum(benchmark::State& s) { run_stream(s, workload_floats(), ours_f32); }

// The goal's table: vellum, fmt and std::to_chars on the mixed pools.
BENCHMARK(F64MixedVellum);
BENCHMARK(F64MixedFmt);
BENCHMARK(F64MixedToChars);
BENCHMARK(F32MixedVellum);
BENCHMARK(F32MixedFmt);
BENCHMARK(F32MixedToChars);
BENCHMARK(F64RandomVellum);
BENCHMARK(F64RandomFmt);
BENCHMARK(F64RandomToChars);
BENCHMARK(F64ShortVellum);
BENCHMARK(F64ShortToChars);
BENCHMARK(F32RandomVellum);
BENCHMARK(F32RandomToChars);
BENCHMARK(U64MixedVellum);
BENCHMARK(U64MixedToChars);
BENCHMARK(U64SmallVellum);
BENCHMARK(U64SmallToChars);
BENCHMARK(F64WorkloadVellum);
BENCHMARK(F64WorkloadStreamVellum);
BENCHMARK(F32WorkloadVellum);
BENCHMARK(F32WorkloadStreamVellum);

}  // namespace

BENCHMARK_MAIN();
