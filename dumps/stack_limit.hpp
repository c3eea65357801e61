// How much of the calling thread's stack is left. The recursion of dumps
// checks it, so that a deep document, or dumps nested through `default`,
// fails cleanly where the thread's real stack ends rather than at a fixed
// count, on any stack a thread may have (threading.stack_size allows 32 KiB).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellum {

// What the recursion spends between two checks, measured with
// tests/support/stack_costs.py (bytes per level of nesting, optimised build;
// under AddressSanitizer in brackets): lists 96 (560, tuples 2450), dicts
// 256 (1200, sorted 2580, converted keys 3300), dataclasses 272 (1900),
// through their declared fields 464 (3150), enum members 368 (2370), enum
// keys 96 (420), default calls 208 (2640), numpy dimensions 96 (220). A
// leaf writer with a call into a time-zone library or a `default` of a few
// frames takes up to 2 KiB (8.5 KiB). The budgets leave a margin over the
// largest level; a 32 KiB thread has about 27 KiB left when its Python code
// calls dumps.
#if defined(__SANITIZE_ADDRESS__)
#define VELLUM_STACK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELLUM_STACK_SANITIZED 1
#endif
#endif

#ifdef VELLUM_STACK_SANITIZED
inline constexpr size_t StackLevelBudget = 4 * 1024;
inline constexpr size_t StackLeafBudget = 16 * 1024;
#else
inline constexpr size_t StackLevelBudget = 768;
inline constexpr size_t StackLeafBudget = 4 * 1024;
#endif

// Container levels are checked every StackCheckInterval levels; enum
// members, enum keys, default calls and numpy dimensions at every one.
inline constexpr uint32_t StackCheckInterval = 4;

// The part of the stack that the frames of one check may still need: the
// levels up to the next check and a leaf.
inline constexpr size_t MinStackReserve = StackCheckInterval * StackLevelBudget + StackLeafBudget;

// The part of the calling thread's stack that its frames should not reach:
// from the stack's end up to the reserve.
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
