// The forms of one processor-specific routine that a test compares: the
// portable twin, each variant's SIMDe build (which runs on any host), and
// each variant itself where this host can run it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/cpu_features.hpp"

namespace vellum::test {

template <class Fn>
struct Form {
  std::string name;
  Fn routine;
};

template <class Fn>
struct Variant {
  const char* name;  // "avx2", "avx512": the SIMDe build is "<name>_simde"
  uint64_t needs;    // the processor features the native form runs on
  Fn native;
  Fn simde;
};

template <class Fn>
std::vector<Form<Fn>> forms(Fn portable, std::initializer_list<Variant<Fn>> variants) {
  std::vector<Form<Fn>> out{{"portable", portable}};
  for (const Variant<Fn>& v : variants) {
    out.push_back({std::string(v.name) + "_simde", v.simde});
    if ((cpu::features() & v.needs) == v.needs) out.push_back({v.name, v.native});
  }
  return out;
}

}  // namespace vellum::test
