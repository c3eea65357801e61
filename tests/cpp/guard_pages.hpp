// One page of memory between two inaccessible pages: a routine that reads or
// writes outside the bytes it is given faults, even without the sanitizers
// and for the native masked loads.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

namespace vellum::test {

class GuardedPage {
 public:
  GuardedPage() : page_(static_cast<size_t>(sysconf(_SC_PAGESIZE))) {
    void* mem = mmap(nullptr, 3 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mem == MAP_FAILED) return;
    base_ = static_cast<uint8_t*>(mem);
    if (mprotect(base_, page_, PROT_NONE) != 0 || mprotect(base_ + 2 * page_, page_, PROT_NONE) != 0) {
      munmap(base_, 3 * page_);
      base_ = nullptr;
    }
  }
  GuardedPage(const GuardedPage&) = delete;
  GuardedPage& operator=(const GuardedPage&) = delete;
  ~GuardedPage() {
    if (base_ != nullptr) munmap(base_, 3 * page_);
  }

  bool ok() const { return base_ != nullptr; }
  size_t size() const { return page_; }
  uint8_t* data() const { return base_ + page_; }
  // The n bytes that end right before the inaccessible page after the data.
  uint8_t* last(size_t n) const { return data() + page_ - n; }

 private:
  size_t page_;
  uint8_t* base_ = nullptr;
};

}  // namespace vellum::test
