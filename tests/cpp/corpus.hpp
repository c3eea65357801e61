// Where the benchmark documents are: VELLUM_CORPUS, else the repository's
// own copy.
#pragma once

#include <cstdlib>
#include <string>

namespace vellum::test {

inline std::string corpus_dir() {
  if (const char* env = std::getenv("VELLUM_CORPUS"); env != nullptr && *env != '\0') return env;
  return VELLUM_DEFAULT_CORPUS;
}

}  // namespace vellum::test
