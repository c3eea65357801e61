// C symbols the interpreter (or an embedder) may look up.
#pragma once

#define VELLUM_EXPORT __attribute__((visibility("default")))
