#include "src/routines.hpp"

#include "src/typeref.hpp"

namespace vellum {

EscapeRoutine escape_routine = nullptr;
Utf8ToStrRoutine utf8_to_str_routine = nullptr;

void select_routines() {}

}  // namespace vellum
