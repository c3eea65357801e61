// The processor-feature word: what the processor offers and the operating
// system has enabled, probed once with CPUID and XGETBV and then cached; and
// the narrower word that routine selection goes by.
#pragma once

#include <cstdint>

namespace vellum::cpu {

// Each bit with every extension Extensions lists for it.
enum Feature : uint64_t {
  Avx2 = uint64_t{1} << 0,      // with BMI, BMI2, LZCNT, and OS-enabled XMM and YMM state
  Avx512Vl = uint64_t{1} << 1,  // with F, BW and DQ, and OS-enabled opmask and ZMM state
  F16c = uint64_t{1} << 2,      // with AVX and OS-enabled XMM and YMM state (VEX-encoded)
};

// Where CPUID reports an extension.
enum class CpuidRegister : uint8_t { Ebx, Ecx, Edx };

// One instruction-set extension that a feature bit requires.
struct Extension {
  const char* name;     // as the target regions name it (base/simd/variant.hpp)
  const char* cpuinfo;  // as the flags of /proc/cpuinfo name it
  unsigned leaf;
  CpuidRegister reg;
  unsigned bit;
  uint64_t needed_by;  // the feature bits that require it
};

// Every extension that a target region enables, and those the compilers
// imply with them (AVX and the SSE levels below it; clang's avx512f implies
// FMA and F16C): a feature bit is set only when the processor has each one
// it requires. tests/cpp/base_cpu_features_test.cpp checks the regions'
// lists against this one.
inline constexpr Extension Extensions[] = {
    {"sse3", "pni", 1, CpuidRegister::Ecx, 0, Avx2 | F16c},
    {"ssse3", "ssse3", 1, CpuidRegister::Ecx, 9, Avx2 | F16c},
    {"fma", "fma", 1, CpuidRegister::Ecx, 12, Avx512Vl},
    {"sse4.1", "sse4_1", 1, CpuidRegister::Ecx, 19, Avx2 | F16c},
    {"sse4.2", "sse4_2", 1, CpuidRegister::Ecx, 20, Avx2 | F16c},
    {"popcnt", "popcnt", 1, CpuidRegister::Ecx, 23, Avx2 | F16c},
    {"avx", "avx", 1, CpuidRegister::Ecx, 28, Avx2 | F16c},
    {"f16c", "f16c", 1, CpuidRegister::Ecx, 29, F16c | Avx512Vl},
    {"bmi", "bmi1", 7, CpuidRegister::Ebx, 3, Avx2},
    {"avx2", "avx2", 7, CpuidRegister::Ebx, 5, Avx2},
    {"bmi2", "bmi2", 7, CpuidRegister::Ebx, 8, Avx2},
    {"avx512f", "avx512f", 7, CpuidRegister::Ebx, 16, Avx512Vl},
    {"avx512dq", "avx512dq", 7, CpuidRegister::Ebx, 17, Avx512Vl},
    {"avx512bw", "avx512bw", 7, CpuidRegister::Ebx, 30, Avx512Vl},
    {"avx512vl", "avx512vl", 7, CpuidRegister::Ebx, 31, Avx512Vl},
    {"lzcnt", "abm", 0x80000001, CpuidRegister::Ecx, 5, Avx2},
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
