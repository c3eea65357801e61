#include "dumps/stack_limit.hpp"

#include <pthread.h>

#include <algorithm>
#include <cstddef>

// glibc 2.34 moved the thread calls from libpthread into the C library under
// new symbol versions (pthread_getattr_np was renewed in 2.32 already):
// binding those would shut out every older system. The first versions, which
// every x86-64 glibc still provides, do the same. Before 2.34 they are
// defined in libpthread, which every CPython build on such a system links,
// so the module finds them there.
#if defined(__GLIBC__) && defined(__x86_64__)
__asm__(".symver pthread_getattr_np,pthread_getattr_np@GLIBC_2.2.5");
__asm__(".symver pthread_attr_getstack,pthread_attr_getstack@GLIBC_2.2.5");
#endif

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
