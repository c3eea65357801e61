#include "dumps/stack_limit.hpp"

#include <pthread.h>

#include <algorithm>
#include <cstddef>

namespace vellum {
namespace {

// An eighth of the stack, within these bounds: more than the frames between
// two checks need leaves Python code called from the deepest level (a
// `default`, a tzinfo) room of its own on a large stack.
constexpr size_t MaxReserve = 128 * 1024;
static_assert(MinStackReserve <= MaxReserve);

// Initial-exec: read with one instruction, without looking up the module's
// thread-local block.
[[gnu::tls_model("initial-exec")]] thread_local StackReserve reserve{};
[[gnu::tls_model("initial-exec")]] thread_local bool found = false;

StackReserve find_reserve() {
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return {};
  void* low = nullptr;
  size_t size = 0;
  const bool known = pthread_attr_getstack(&attr, &low, &size) == 0 && low != nullptr && size != 0;
  pthread_attr_destroy(&attr);
  if (!known) return {};
  const auto begin = reinterpret_cast<uintptr_t>(low);
  return {begin, begin + std::clamp(size / 8, MinStackReserve, MaxReserve)};
}

}  // namespace

const StackReserve& stack_reserve() {
  if (!found) [[unlikely]] {
    reserve = find_reserve();
    found = true;
  }
  return reserve;
}

}  // namespace vellum
