#include "src/routines.hpp"

#include "src/cpu_features.hpp"
#include "src/deserialize/utf8_to_str.hpp"
#include "src/typeref.hpp"

namespace vellum {

EscapeRoutine escape_routine = escape_sse2;
Utf8ToStrRoutine utf8_to_str_routine = utf8_to_str;

void select_routines() {
  escape_routine = select_escape_routine();
  if (cpu::has(cpu::Avx512Vl)) utf8_to_str_routine = avx512::utf8_to_str;
}

}  // namespace vellum
