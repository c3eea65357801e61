// How much of the heavy random runs to do: VELLUM_TEST_SCALE (default 1;
// CI sets 0.1 under the sanitizers).
#pragma once

#include <cstddef>
#include <cstdlib>

namespace vellum::test {

inline double test_scale() {
  const char* s = std::getenv("VELLUM_TEST_SCALE");
  if (s == nullptr || *s == '\0') return 1.0;
  const double v = std::strtod(s, nullptr);
  return v > 0 ? v : 1.0;
}

// n scaled, at least 1.
inline size_t scaled(size_t n) {
  const double v = static_cast<double>(n) * test_scale();
  return v < 1 ? 1 : static_cast<size_t>(v);
}

}  // namespace vellum::test
