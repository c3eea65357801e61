// The forms of a component's processor-specific routines, and the choice
// among them.
//
// A component gathers its routines in one table type R (EscapeRoutines,
// Utf8Routines, ...). Each form's file defines the form's table inside its
// own namespace, as the explicit specialization routines<R>() of the
// template declared below for that namespace:
//
//   namespace vellum::VELLUM_VARIANT(avx2) {
//   template <> const EscapeRoutines& routines() {
//     static constexpr EscapeRoutines Table{&escape_string};
//     return Table;
//   }
//   }
//
// The test build compiles the same file again over SIMDe (avx2_simde, ...),
// so every variant's twin comes from its own file. The component lists its
// forms once, widest first and the portable form last:
//
//   constexpr simd::Form<EscapeRoutines> EscapeForms[] = {
//       simd::form<EscapeRoutines, simd::Isa::Avx512>(),
//       simd::form<EscapeRoutines, simd::Isa::Portable>(),
//   };
//
// and picks from that list once, when the library is loaded; tests, fuzz
// targets and benchmarks iterate the same list.
#pragma once

#include <cstdint>
#include <span>

#include "base/cpu_features.hpp"

// One table template per form namespace. The product links no SIMDe build:
// there a twin's address reads as null (weak), and no dynamic symbol is
// left behind for it (hidden).
namespace vellum::portable {
template <class R>
const R& routines();
}
namespace vellum::avx2 {
template <class R>
const R& routines();
}
namespace vellum::avx512 {
template <class R>
const R& routines();
}
namespace vellum::f16c {
template <class R>
const R& routines();
}
namespace vellum::avx2_simde {
template <class R>
[[gnu::weak, gnu::visibility("hidden")]] const R& routines();
}
namespace vellum::avx512_simde {
template <class R>
[[gnu::weak, gnu::visibility("hidden")]] const R& routines();
}
namespace vellum::f16c_simde {
template <class R>
[[gnu::weak, gnu::visibility("hidden")]] const R& routines();
}

namespace vellum::simd {

// One form of the routine table R.
template <class R>
struct Form {
  const char* name;     // as VELLUM_CPU and the tests name it
  uint64_t needs;       // the processor features its native build runs on
  const R& (*native)();  // the product's table; call only where `needs` is met
  const R& (*simde)();   // the same file over SIMDe: test build only, else null
};

// The instruction sets a form may be written for, each with its namespace.
enum class Isa { Portable, Avx2, Avx512, F16c };

// The row of form I of table R. The AVX-512 target region enables AVX2 as
// well, so an AVX-512 form needs both.
template <class R, Isa I>
consteval Form<R> form() {
  if constexpr (I == Isa::Avx2) {
    return {"avx2", cpu::Avx2, &avx2::routines<R>, &avx2_simde::routines<R>};
  } else if constexpr (I == Isa::Avx512) {
    return {"avx512", cpu::Avx2 | cpu::Avx512Vl, &avx512::routines<R>, &avx512_simde::routines<R>};
  } else if constexpr (I == Isa::F16c) {
    return {"f16c", cpu::F16c, &f16c::routines<R>, &f16c_simde::routines<R>};
  } else {
    return {"portable", 0, &portable::routines<R>, nullptr};
  }
}

// The table of the first form that a processor with `features` runs. The
// list ends with the portable form, which needs nothing.
template <class R>
const R& pick(std::span<const Form<R>> forms, uint64_t features) {
  for (const Form<R>& f : forms)
    if ((features & f.needs) == f.needs) return f.native();
  return forms.back().native();
}

}  // namespace vellum::simd
