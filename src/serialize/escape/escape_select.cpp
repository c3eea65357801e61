#include "src/cpu_features.hpp"
#include "src/serialize/escape/escape.hpp"

namespace vellum {

EscapeRoutine select_escape_routine() {
  return cpu::has(cpu::Avx512Vl) ? &avx512::escape_string : &escape_sse2;
}

}  // namespace vellum
