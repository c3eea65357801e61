#include "src/cpu_features.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {

// The kernel reports a flag only when the processor has it and the kernel has
// enabled its register state, which is what the feature word claims too.
std::set<std::string> cpuinfo_flags() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("flags", 0) == 0) {
      std::istringstream words(line.substr(line.find(':') + 1));
      std::set<std::string> flags;
      for (std::string w; words >> w;) flags.insert(w);
      return flags;
    }
  }
  return {};
}

TEST(CpuFeatures, MatchesProcCpuinfo) {
  const auto flags = cpuinfo_flags();
  if (flags.empty()) GTEST_SKIP() << "/proc/cpuinfo has no flags line";
  using namespace vellum::cpu;
  EXPECT_EQ(has(Avx2), flags.count("avx2") == 1);
  EXPECT_EQ(has(F16c), flags.count("f16c") == 1);
  const bool avx512 = flags.count("avx512f") && flags.count("avx512bw") && flags.count("avx512vl");
  EXPECT_EQ(has(Avx512Vl), avx512);
}

TEST(CpuFeatures, CachedWordIsFilledAndStable) {
  using namespace vellum::cpu;
  const uint64_t first = features();
  EXPECT_TRUE(first & Filled);
  EXPECT_EQ(features(), first);
  EXPECT_EQ(probe_features(), first);
}

}  // namespace
