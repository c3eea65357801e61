// Included first by every processor-specific variant (*_avx2.cpp,
// *_avx512.cpp, *_f16c.cpp).
//
// A variant is compiled twice:
//  - in the product, with the real intrinsics inside a target region, so only
//    the variant's own functions use the extra instructions and nothing it
//    shares with other files (inline helpers, templates) is built for them;
//  - in the test build (VELLUM_SIMDE), against SIMDe's portable intrinsics and
//    in a namespace of its own, so its logic runs and can be compared with the
//    portable twin on any host.
//
// Usage:
//   #include "base/simd/variant.hpp"
//   VELLUM_TARGET_AVX512_BEGIN
//   namespace vellum::VELLUM_VARIANT(avx512) { ... }
//   VELLUM_TARGET_END
#pragma once

#include <cstddef>
#include <cstdint>

// What each target region enables. The processor probe (base/cpu_features.hpp,
// Extensions) requires every one of them before a form of the region is
// chosen; tests/cpp/base_cpu_features_test.cpp compares the lists.
#define VELLUM_TARGETS_AVX2 "avx2,bmi,bmi2,lzcnt,popcnt"
#define VELLUM_TARGETS_AVX512 "avx2,bmi,bmi2,lzcnt,popcnt,avx512f,avx512bw,avx512vl,avx512dq"
#define VELLUM_TARGETS_F16C "avx,f16c"

#if defined(VELLUM_SIMDE)

#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/x86/avx2.h>
#include <simde/x86/avx512.h>
#include <simde/x86/f16c.h>
#include "base/simd/simde_compat.hpp"

#define VELLUM_VARIANT(name) name##_simde
#define VELLUM_TARGET_AVX2_BEGIN
#define VELLUM_TARGET_AVX512_BEGIN
#define VELLUM_TARGET_F16C_BEGIN
#define VELLUM_TARGET_END

#else

#include <immintrin.h>

namespace vellum::simd {
using mask8 = __mmask8;
using mask16 = __mmask16;
using mask32 = __mmask32;
using mask64 = __mmask64;
}  // namespace vellum::simd

#define VELLUM_VARIANT(name) name
// _Pragma takes one string literal: the directive is written out as words
// and turned into one, the region's list of extensions expanded first.
#define VELLUM_PRAGMA(...) _Pragma(#__VA_ARGS__)
#if defined(__clang__)
// Clang ignores GCC's target pragmas; its attribute region gives every
// function declared inside (lambdas and the stamped helpers included) the
// same target, which is what the GCC region does.
#define VELLUM_TARGET_REGION(targets) \
  VELLUM_PRAGMA(clang attribute push(__attribute__((target(targets))), apply_to = function))
#define VELLUM_TARGET_END _Pragma("clang attribute pop")
#else
#define VELLUM_TARGET_REGION(targets) _Pragma("GCC push_options") VELLUM_PRAGMA(GCC target(targets))
#define VELLUM_TARGET_END _Pragma("GCC pop_options")
#endif
#define VELLUM_TARGET_AVX2_BEGIN VELLUM_TARGET_REGION(VELLUM_TARGETS_AVX2)
#define VELLUM_TARGET_AVX512_BEGIN VELLUM_TARGET_REGION(VELLUM_TARGETS_AVX512)
// The half-precision conversions, on 256-bit registers.
#define VELLUM_TARGET_F16C_BEGIN VELLUM_TARGET_REGION(VELLUM_TARGETS_F16C)

#endif
