// A once-primitive for the process-wide set-up that module exec runs.
#pragma once

#include <atomic>

namespace vellum {

class Once {
 public:
  // Runs `init` unless a run has completed; true once one has. A failed run
  // (false, with a Python exception pending) lets a later call try again.
  bool run(bool (*init)());

 private:
  std::atomic<int> state_{0};  // 0: not run (or failed), 1: running, 2: complete
};

}  // namespace vellum
