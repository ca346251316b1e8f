#include "asn1/ValuePool.h"

#include <cstdlib>
#include <new>

namespace ASN1 {
namespace detail {

thread_local constinit PoolLists poolLists = {};

namespace {

// Hands the thread's blocks back to the heap when the thread ends.
struct Drain {
    ~Drain()
    {
        for (PoolBlock*& h : poolLists.head)
            while (h) {
                PoolBlock* next = h->next;
                std::free(h);
                h = next;
            }
        poolLists.drained = true;
    }
};
thread_local Drain drain;

}  // namespace

// An empty list (or a block the lists do not take): a block from the heap, of the full size
// of its class so that it can serve any request of that class later.
void* poolAllocateSlow(std::size_t n)
{
    PoolLists& l = poolLists;
    if (VX_ASN1_POOL_RECYCLES && n - 1 < kPoolLargest && !l.drained) {
        n = ((n - 1) / kPoolGrain + 1) * kPoolGrain;
        (void)&drain;  // registers the drain of this thread's lists at its end
    }
    ++l.heapAllocations;
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}

void poolReleaseSlow(void* p, std::size_t) noexcept { std::free(p); }

uint64_t poolHeapAllocations() { return poolLists.heapAllocations; }

bool poolRecycles() { return VX_ASN1_POOL_RECYCLES; }

}  // namespace detail
}  // namespace ASN1
