// The processor-feature word: what the processor offers and the operating
// system has enabled, probed once with CPUID and XGETBV and then cached.
#pragma once

#include <cstdint>

namespace vellum::cpu {

enum Feature : uint64_t {
  Avx2 = uint64_t{1} << 0,      // with OS-enabled XMM and YMM state
  Avx512Vl = uint64_t{1} << 1,  // with BW, and OS-enabled opmask and ZMM state
  F16c = uint64_t{1} << 2,
};

// Marks the cached word as filled; never a capability.
inline constexpr uint64_t Filled = uint64_t{1} << 63;

// Probes without caching (for tests).
uint64_t probe_features();

// The cached word. Two threads may race to fill it; both store the same value.
uint64_t features();

inline bool has(Feature f) { return (features() & f) != 0; }

}  // namespace vellum::cpu
