// Every one of the 2^32 singles: format_f32 against the reference text of
// the shortest std::to_chars digits. Not part of the unit tests (it runs for
// minutes). Usage: number_f32_exhaustive [threads]
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kernels/number/format.hpp"
#include "tests/cpp/exhaustive/number_reference.hpp"

int main(int argc, char** argv) {
  const unsigned threads = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 2;
  constexpr uint64_t Total = uint64_t{1} << 32;
  constexpr uint64_t Chunk = uint64_t{1} << 24;
  std::atomic<uint64_t> next{0};
  std::atomic<uint64_t> failures{0};
  std::atomic<uint64_t> checked{0};
  std::mutex print;

  auto work = [&] {
    uint8_t buf[64];
    for (;;) {
      const uint64_t begin = next.fetch_add(Chunk);
      if (begin >= Total) return;
      uint64_t local = 0;
      for (uint64_t b = begin; b < begin + Chunk; ++b) {
        const float v = std::bit_cast<float>(static_cast<uint32_t>(b));
        if (!std::isfinite(v)) continue;
        ++local;
        const uint8_t* end = vellum::format_f32(buf, v);
        const std::string want = vellum_test::reference_text(v);
        if (static_cast<size_t>(end - buf) != want.size() || std::memcmp(buf, want.data(), want.size()) != 0) {
          if (failures.fetch_add(1) < 20) {
            std::lock_guard<std::mutex> lock(print);
            std::printf("0x%08llx: got %.*s, want %s\n", static_cast<unsigned long long>(b),
                        static_cast<int>(end - buf), reinterpret_cast<const char*>(buf), want.c_str());
          }
        }
      }
      checked += local;
      if ((begin / Chunk) % 16 == 15) {
        std::lock_guard<std::mutex> lock(print);
        std::printf("%llu/256 chunks\n", static_cast<unsigned long long>(begin / Chunk + 1));
        std::fflush(stdout);
      }
    }
  };
  std::vector<std::thread> pool;
  for (unsigned i = 0; i < (threads == 0 ? 1 : threads); ++i) pool.emplace_back(work);
  for (auto& t : pool) t.join();
  std::printf("%llu finite singles checked, %llu mismatches\n", static_cast<unsigned long long>(checked.load()),
              static_cast<unsigned long long>(failures.load()));
  return failures.load() == 0 ? 0 : 1;
}
