// The selection levels of this host, as VELLUM_CPU names them, so that each
// benchmark measures every path the host can take.
#pragma once

#include <cstdint>
#include <vector>

#include "base/cpu_features.hpp"

namespace vellum::bench {

struct Level {
  const char* name;   // "portable", "avx2", "avx512"
  uint64_t features;  // what routine selection sees at this level
};

// Each level once: on a host without AVX-512, "avx512" is the same as "avx2"
// and is left out.
inline std::vector<Level> host_levels() {
  std::vector<Level> out;
  for (const char* name : {"portable", "avx2", "avx512"}) {
    const uint64_t features = cpu::cap_of(name) & cpu::features();
    if (out.empty() || out.back().features != features) out.push_back({name, features});
  }
  return out;
}

}  // namespace vellum::bench
