#include "core/once.hpp"

#include <sched.h>

#include "core/python.hpp"

namespace vellum {

bool Once::run(bool (*init)()) {
  for (;;) {
    int expected = 0;
    if (state_.compare_exchange_strong(expected, 1, std::memory_order_acquire)) break;
    if (expected == 2) return true;
    // Another thread is running it and may need the interpreter lock to
    // finish an import: wait without holding it.
    Py_BEGIN_ALLOW_THREADS
    sched_yield();
    Py_END_ALLOW_THREADS
  }
  const bool ok = init();
  state_.store(ok ? 2 : 0, std::memory_order_release);
  return ok;
}

}  // namespace vellum
