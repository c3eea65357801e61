// read_document as loads runs it (one pool buffer, sized as loads sizes it),
// timed by Google Benchmark.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "reader/document.hpp"
#include "reader/pool.hpp"

namespace vellum::bench {

inline void read_with_pool(benchmark::State& state, const std::string& text) {
  std::vector<uint8_t> buffer(parse_buffer_size(text.size()));
  const auto* input = reinterpret_cast<const uint8_t*>(text.data());
  for (auto _ : state) {
    ReaderAllocator allocator{};
    PoolAllocator::init(&allocator, buffer.data(), buffer.size());
    DecodeError error{};
    JsonDocument* doc = read_document(input, text.size(), &allocator, &error);
    if (doc == nullptr) {
      state.SkipWithError(error.message);
      break;
    }
    benchmark::DoNotOptimize(doc->value_count);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

}  // namespace vellum::bench
