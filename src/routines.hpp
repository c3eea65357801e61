// Chooses the processor-specific forms of the hot string routines, once.
#pragma once

namespace vellum {

void select_routines();

}  // namespace vellum
