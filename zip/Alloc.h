// Every allocation of the ZIP writer and its compressor goes through here, so the tests can make
// exactly the n-th one fail and drive each out-of-memory path on purpose.
#pragma once

#include <cstddef>

namespace vq::zip {

// nullptr when memory is short (or when a test asked for this allocation to fail).
void* ZipAllocate(size_t n);
void ZipRelease(void* p);

// Test seam: the nth allocation from now (1 = the next one) fails; 0 switches failures off.
void ZipFailAllocationForTest(int nth);

}  // namespace vq::zip
