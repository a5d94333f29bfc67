#include "zip/Alloc.h"

#include <atomic>
#include <cstdlib>

namespace vq::zip {

namespace {
std::atomic<int> g_fail_countdown{0};
}

void* ZipAllocate(size_t n) {
  int left = g_fail_countdown.load(std::memory_order_relaxed);
  if (left > 0) {
    g_fail_countdown.store(left - 1, std::memory_order_relaxed);
    if (left == 1) return nullptr;
  }
  return std::malloc(n ? n : 1);
}

void ZipRelease(void* p) { std::free(p); }

void ZipFailAllocationForTest(int nth) { g_fail_countdown.store(nth > 0 ? nth : 0); }

}  // namespace vq::zip
