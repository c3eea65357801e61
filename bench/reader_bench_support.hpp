// read_json as loads runs it (in place, the text followed by a zero byte),
// with a builder that only counts, timed by Google Benchmark.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "reader/reader.hpp"

namespace vellum::bench {

// Counts what it is handed, so the timing is the reader's own.
struct CountingBuilder {
  uint64_t values = 0;
  bool null_value() { return ++values; }
  bool boolean(bool) { return ++values; }
  bool unsigned_int(uint64_t) { return ++values; }
  bool signed_int(int64_t) { return ++values; }
  bool real(double) { return ++values; }
  bool string(const StringToken& s) { return values += 1 + s.ascii; }
  bool key(const StringToken& s) { return values += 1 + s.ascii; }
  bool open_array() { return true; }
  bool open_object() { return true; }
  bool close_array() { return ++values; }
  bool close_object() { return ++values; }
};

// Bytes past the text's zero byte that may be read, as when the text lies in
// the middle of a page.
inline constexpr size_t ReadablePadding = 64;

inline std::vector<uint8_t> padded_text(const std::string& text) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.resize(text.size() + 1 + ReadablePadding, 0);
  return bytes;
}

inline void read_counting(benchmark::State& state, const std::string& text) {
  const std::vector<uint8_t> bytes = padded_text(text);
  const TextBuffer::Memory memory{[](void* b, size_t n) { return std::realloc(b, n); }, [](void* b) { std::free(b); }};
  for (auto _ : state) {
    DecodeError error{};
    const ReaderInput input{bytes.data(), bytes.data() + text.size(), bytes.data() + bytes.size(), &error};
    CountingBuilder builder;
    TextBuffer buffer(memory);
    if (!read_json(input, builder, buffer)) {
      state.SkipWithError(error.message);
      break;
    }
    benchmark::DoNotOptimize(builder.values);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

}  // namespace vellum::bench
