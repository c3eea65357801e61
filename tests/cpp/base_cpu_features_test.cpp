#include "base/cpu_features.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
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

TEST(CpuFeatures, CapOfEachValue) {
  using namespace vellum::cpu;
  struct Case {
    const char* value;
    uint64_t cap;
  };
  const Case cases[] = {
      {nullptr, AllFeatures},   {"portable", 0},          {"avx2", Avx2 | F16c},
      {"avx512", AllFeatures},  {"", AllFeatures},        {"AVX2", AllFeatures},
      {"sse4", AllFeatures},    {"avx2 ", AllFeatures},
  };
  for (const Case& c : cases) EXPECT_EQ(cap_of(c.value), c.cap) << (c.value ? c.value : "(unset)");
}

// The selection never goes beyond the host, whatever the cap says.
TEST(CpuFeatures, SelectedIsTheHostWithinTheCap) {
  using namespace vellum::cpu;
  const uint64_t selected = selected_features();
  EXPECT_TRUE(selected & Filled);
  EXPECT_EQ(selected & ~features(), 0u);
  EXPECT_EQ(selected, features() & (cap_of(std::getenv("VELLUM_CPU")) | Filled));
  EXPECT_EQ(selected_features(), selected);
}

}  // namespace
