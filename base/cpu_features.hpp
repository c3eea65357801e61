// The processor-feature word: what the processor offers and the operating
// system has enabled, probed once with CPUID and XGETBV and then cached; and
// the narrower word that routine selection goes by.
#pragma once

#include <cstdint>

namespace vellum::cpu {

enum Feature : uint64_t {
  Avx2 = uint64_t{1} << 0,      // with OS-enabled XMM and YMM state
  Avx512Vl = uint64_t{1} << 1,  // with F and BW, and OS-enabled opmask and ZMM state
  F16c = uint64_t{1} << 2,      // with AVX and OS-enabled XMM and YMM state (VEX-encoded)
};

// Marks the cached word as filled; never a capability.
inline constexpr uint64_t Filled = uint64_t{1} << 63;
inline constexpr uint64_t AllFeatures = Avx2 | Avx512Vl | F16c;

// Probes without caching (for tests).
uint64_t probe_features();

// The host's cached word. Two threads may race to fill it; both store the
// same value.
uint64_t features();

inline bool has(Feature f) { return (features() & f) != 0; }

// The features a value of VELLUM_CPU leaves to routine selection:
// "portable" none, "avx2" AVX2 and F16C, "avx512" all of them. Anything
// else, or no value, caps nothing.
uint64_t cap_of(const char* value);

// What every routine table is chosen by: the host's features within the
// VELLUM_CPU cap, so a cap never enables what the host lacks. The variable
// is read once per process.
uint64_t selected_features();

}  // namespace vellum::cpu
