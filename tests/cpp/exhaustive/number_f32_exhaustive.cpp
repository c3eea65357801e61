// Every one of the 2^32 singles: format_f32 against the reference text of
// the shortest std::to_chars digits, and every form of the float rows (their
// SIMDe builds included) against format_f32, byte for byte. Not part of the
// unit tests (it runs for minutes). Usage: number_f32_exhaustive [threads]
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

#include "kernels/number/float_row.hpp"
#include "kernels/number/format.hpp"
#include "tests/cpp/forms.hpp"
#include "tests/cpp/exhaustive/number_reference.hpp"

int main(int argc, char** argv) {
  const unsigned threads = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 2;
  constexpr uint64_t Total = uint64_t{1} << 32;
  constexpr uint64_t Chunk = uint64_t{1} << 24;
  std::atomic<uint64_t> next{0};
  std::atomic<uint64_t> failures{0};
  std::atomic<uint64_t> checked{0};
  std::mutex print;

  const auto rows = vellum::test::forms(vellum::float_row_forms, &vellum::FloatRowRoutines::f32_row);
  std::printf("float row forms:");
  for (const auto& form : rows) std::printf(" %s", form.name.c_str());
  std::printf("\n");

  auto work = [&] {
    uint8_t buf[64];
    constexpr size_t Block = 4096;
    constexpr uint8_t Comma = ',';
    const vellum::Separator separator{&Comma, 1};
    std::vector<uint32_t> block(Block);
    std::string want_row;
    std::vector<uint8_t> row(Block * (vellum::MaxF32Text + 1) + vellum::FloatOverhang);
    auto fail = [&](const std::string& what) {
      if (failures.fetch_add(1) < 20) {
        std::lock_guard<std::mutex> lock(print);
        std::printf("%s\n", what.c_str());
      }
    };
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
          char line[128];
          std::snprintf(line, sizeof line, "0x%08llx: got %.*s, want %s", static_cast<unsigned long long>(b),
                        static_cast<int>(end - buf), reinterpret_cast<const char*>(buf), want.c_str());
          fail(line);
        }
      }
      // Every bit pattern, infinities and NaNs too, in rows of Block values.
      for (uint64_t b = begin; b < begin + Chunk; b += Block) {
        want_row.clear();
        for (size_t i = 0; i < Block; ++i) {
          block[i] = static_cast<uint32_t>(b + i);
          const uint8_t* end = vellum::format_f32(buf, std::bit_cast<float>(block[i]));
          want_row.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(end - buf));
          want_row += ',';
        }
        for (const auto& form : rows) {
          const uint8_t* end = form.routine(row.data(), reinterpret_cast<const uint8_t*>(block.data()), Block, separator);
          if (static_cast<size_t>(end - row.data()) != want_row.size() ||
              std::memcmp(row.data(), want_row.data(), want_row.size()) != 0)
            for (size_t i = 0; i < Block; ++i) {
              // Name the first value that differs.
              uint8_t one[64];
              const uint8_t* e1 = form.routine(one, reinterpret_cast<const uint8_t*>(&block[i]), 1, separator);
              const uint8_t* e2 = vellum::format_f32(buf, std::bit_cast<float>(block[i]));
              if (e1 - one != e2 - buf + 1 || std::memcmp(one, buf, static_cast<size_t>(e2 - buf)) != 0) {
                char line[160];
                std::snprintf(line, sizeof line, "0x%08x: row form %s wrote %.*s, format_f32 %.*s", block[i],
                              form.name.c_str(), static_cast<int>(e1 - one), reinterpret_cast<const char*>(one),
                              static_cast<int>(e2 - buf), reinterpret_cast<const char*>(buf));
                fail(line);
                break;
              }
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
