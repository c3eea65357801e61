#include "base/cpu_features.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

#include "base/simd/forms.hpp"
#include "base/simd/variant.hpp"

namespace cpu_features_test {
// A routine table that no form defines: only the needs of its rows are read.
struct AnyTable;
}  // namespace cpu_features_test

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
  for (const Feature feature : {Avx2, Avx512Vl, F16c}) {
    bool all = true;
    for (const Extension& e : Extensions)
      if (e.needed_by & feature) all = all && flags.count(e.cpuinfo) == 1;
    EXPECT_EQ(has(feature), all) << "feature bit " << feature;
  }
}

// Each form's target region enables only extensions that the feature bits
// the form needs have been probed for: a processor (or a virtual machine)
// that hides one of them gets a narrower form, not an illegal instruction.
TEST(CpuFeatures, EveryExtensionARegionEnablesIsProbed) {
  using namespace vellum;
  using cpu_features_test::AnyTable;
  struct Region {
    const char* name;
    std::string_view targets;
    uint64_t needs;
  };
  constexpr uint64_t Avx2Needs = simd::form<AnyTable, simd::Isa::Avx2>().needs;
  constexpr uint64_t Avx512Needs = simd::form<AnyTable, simd::Isa::Avx512>().needs;
  constexpr uint64_t F16cNeeds = simd::form<AnyTable, simd::Isa::F16c>().needs;
  const Region regions[] = {
      {"avx2", VELLUM_TARGETS_AVX2, Avx2Needs},
      {"avx512", VELLUM_TARGETS_AVX512, Avx512Needs},
      {"f16c", VELLUM_TARGETS_F16C, F16cNeeds},
  };
  for (const Region& region : regions) {
    std::string_view rest = region.targets;
    while (!rest.empty()) {
      const size_t comma = rest.find(',');
      const std::string_view name = rest.substr(0, comma);
      rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
      bool probed = false;
      for (const cpu::Extension& e : cpu::Extensions) probed = probed || (name == e.name && (e.needed_by & region.needs));
      EXPECT_TRUE(probed) << region.name << " enables " << name << ", which its feature bits do not require";
    }
  }
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
