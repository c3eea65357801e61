// How much of the calling thread's stack is left: recursion that can run
// through Python code (a `default` that calls dumps again) checks it, so that
// it fails cleanly where the thread's real stack ends rather than at a fixed
// count.
#pragma once

#include <cstdint>

namespace vellum {

// The part of the calling thread's stack that its frames should not reach:
// from the stack's end up to a reserve for the work between two checks.
struct StackReserve {
  uintptr_t low;
  uintptr_t floor;
};

// Found once per thread; empty (low == floor) when the bounds are unknown.
const StackReserve& stack_reserve();

// True when the caller's frame lies in the reserve. A frame outside the
// thread's stack (code running on a stack of its own) is never refused.
[[gnu::always_inline]] inline bool stack_nearly_exhausted() {
  const uintptr_t frame = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  const StackReserve& r = stack_reserve();
  return frame < r.floor && frame >= r.low;
}

}  // namespace vellum
