// The recursive value serializer's declarations: the state it carries and
// the steps of the recursion. The steps are written once over the layout
// operations in serializer-inl.hpp (and the -inl.hpp files it includes),
// which only dumps.cpp includes, so the whole recursion lives in one unit.
#pragma once

#include <bit>
#include <cstdint>

#include "core/python.hpp"
#include "dumps/error.hpp"
#include "dumps/options.hpp"
#include "dumps/stack_limit.hpp"

namespace vellum {

// Options and both depth counters in one word:
// bits 0-12 options, 16-23 default-call depth, 24-31 container depth.
namespace state {
inline constexpr uint32_t DefaultDepthUnit = uint32_t{1} << 16;
inline constexpr uint32_t ContainerDepthUnit = uint32_t{1} << 24;
inline constexpr uint32_t MaxDepth = 255;

constexpr Options options(uint32_t s) { return s & MaxOptions; }
constexpr uint32_t default_depth(uint32_t s) { return (s >> 16) & 0xff; }
constexpr uint32_t container_depth(uint32_t s) { return s >> 24; }
}  // namespace state

// What one step writes: the object, the call's `default` and the state word.
// The module's state travels with the layout (layout.state(), by
// reference), so that this record, which every level copies, stays small.
struct SerializeContext {
  PyObject* object;   // borrowed
  PyObject* default_;  // borrowed; null when absent
  uint32_t state;
};

// Whether the thread's stack still has room for a step that recurses or
// calls Python code; if not, a RecursionError is left pending, which becomes
// the cause of the TooDeep failure the caller returns.
[[gnu::always_inline]] inline bool stack_has_room() {
  if (stack_nearly_exhausted()) [[unlikely]] {
    raise_stack_exhausted();
    return false;
  }
  return true;
}

// One level deeper, with the thread's stack checked every
// StackCheckInterval levels.
[[gnu::always_inline]] inline bool deeper(uint32_t& s) {
  static_assert(std::has_single_bit(StackCheckInterval));
  s += state::ContainerDepthUnit;
  return (state::container_depth(s) & (StackCheckInterval - 1)) != 0 || stack_has_room();
}

// Enters a list, tuple or dict: one level deeper, failing at the limit.
// The counter is tested before it is raised so that it never wraps (a
// dataclass may already have taken it to the limit itself).
[[nodiscard]] inline bool enter_container(uint32_t& s) {
  if (state::container_depth(s) >= state::MaxDepth - 1) [[unlikely]]
    return false;
  return deeper(s);
}

// Enters a dataclass instance, which may take the counter to the limit.
[[nodiscard]] inline bool enter_dataclass(uint32_t& s) {
  if (state::container_depth(s) >= state::MaxDepth) [[unlikely]]
    return false;
  return deeper(s);
}

// The steps of the recursion, each over a layout (CompactLayout or
// IndentLayout). serialize_value is the entry; serialize_item is the fast
// chain of exact types that every container loop inlines.
template <class Layout>
EncodeStatus serialize_value(SerializeContext ctx, Layout& layout);
template <class Layout>
[[gnu::always_inline]] inline EncodeStatus serialize_item(SerializeContext ctx, Layout& layout);
template <class Layout>
EncodeStatus serialize_other(SerializeContext ctx, Layout& layout);
template <class Layout>
EncodeStatus serialize_with_default(SerializeContext ctx, Layout& layout);
template <class Layout, bool IsTuple>
EncodeStatus serialize_sequence(PyObject* seq, SerializeContext ctx, Layout& layout);
template <class Layout>
EncodeStatus serialize_dict(PyObject* dict, SerializeContext ctx, Layout& layout);

}  // namespace vellum
