// The forms of a component's routines that a test or fuzz target runs, from
// the component's own list (base/simd/forms.hpp): each variant's SIMDe build,
// which runs on any host, and each form's native build where this host runs
// it.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "base/cpu_features.hpp"
#include "base/simd/forms.hpp"

namespace vellum::test {

template <class T>
struct Form {
  std::string name;  // "portable", "avx2", "avx2_simde", ...
  T routine;         // one routine, or a whole table
  bool simde;        // the SIMDe build, slow: sweeps may take fewer cases
};

// Whether this host runs the native build of a form.
template <class R>
bool host_runs(const simd::Form<R>& form) {
  return (cpu::features() & form.needs) == form.needs;
}

// Every runnable build of every form's whole table, narrowest form first.
template <class R>
std::vector<Form<R>> tables(std::span<const simd::Form<R>> forms) {
  std::vector<Form<R>> out;
  for (auto f = forms.rbegin(); f != forms.rend(); ++f) {
    if (f->simde) out.push_back({std::string(f->name) + "_simde", f->simde(), true});
    if (host_runs(*f)) out.push_back({f->name, f->native(), false});
  }
  return out;
}

// Every runnable build of one routine, narrowest form first; a form that
// takes the routine of a narrower one (the AVX-512 form's AVX2 validator)
// does not repeat it.
template <class R, class Fn>
std::vector<Form<Fn>> forms(std::span<const simd::Form<R>> all, Fn R::*routine) {
  std::vector<Form<Fn>> out;
  for (const Form<R>& t : tables(all)) {
    bool seen = false;
    for (const Form<Fn>& f : out) seen = seen || f.routine == t.routine.*routine;
    if (!seen) out.push_back({t.name, t.routine.*routine, t.simde});
  }
  return out;
}

// Two tables with the same routines.
template <class R>
bool same_table(const R& a, const R& b) {
  return std::memcmp(&a, &b, sizeof(R)) == 0;
}

// What is wrong with a component's list and the table it chose at load
// (empty when nothing): the portable form must come last and need nothing,
// no form may hide behind an earlier one whose needs it covers (it would
// never be picked), names differ, and the chosen table is the pick for the
// selected features.
template <class R>
std::string list_problems(std::span<const simd::Form<R>> forms, const R& chosen) {
  if (forms.empty()) return "no forms";
  std::string out;
  const simd::Form<R>& last = forms.back();
  if (std::string(last.name) != "portable" || last.needs != 0 || last.simde != nullptr)
    out += "the last form is not the portable one; ";
  for (size_t i = 0; i < forms.size(); ++i) {
    for (size_t j = i + 1; j < forms.size(); ++j) {
      if ((forms[i].needs & ~forms[j].needs) == 0)
        out += std::string(forms[j].name) + " hides behind " + forms[i].name + "; ";
      if (std::string(forms[i].name) == forms[j].name) out += std::string("two forms named ") + forms[i].name + "; ";
    }
    if (i + 1 < forms.size() && forms[i].simde == nullptr) out += std::string(forms[i].name) + " has no SIMDe build; ";
  }
  if (!same_table(chosen, simd::pick(forms, cpu::selected_features()))) out += "the chosen table is not the pick; ";
  return out;
}

}  // namespace vellum::test
