#include "asn1/ValuePool.h"

#include <cstdlib>
#include <new>

namespace ASN1 {
namespace detail {

namespace {

// Under AddressSanitizer blocks are not recycled, so that a use after free in a value tree is
// still caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kRecycle = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kRecycle = false;
#else
constexpr bool kRecycle = true;
#endif
#else
constexpr bool kRecycle = true;
#endif

struct FreeBlock {
    FreeBlock* next;
};

constexpr std::size_t kClasses = kPoolLargest / kPoolGrain;

// Trivially destructible, so that it can still be read after the thread's exit began: values
// freed by static destructors then go straight back to the heap.
struct Lists {
    FreeBlock* head[kClasses];
    std::size_t depth[kClasses];
    uint64_t heapAllocations;
    bool drained;
};
thread_local Lists lists;

// Hands the thread's blocks back to the heap when the thread ends.
struct Drain {
    ~Drain()
    {
        for (FreeBlock*& h : lists.head)
            while (h) {
                FreeBlock* next = h->next;
                std::free(h);
                h = next;
            }
        lists.drained = true;
    }
};
thread_local Drain drain;

// Class c holds blocks of (c + 1) * kPoolGrain bytes.
std::size_t classOf(std::size_t n) { return n == 0 ? 0 : (n - 1) / kPoolGrain; }

}  // namespace

void* poolAllocate(std::size_t n)
{
    Lists& l = lists;
    if (kRecycle && n <= kPoolLargest && !l.drained) {
        const std::size_t c = classOf(n);
        if (FreeBlock* b = l.head[c]) {
            l.head[c] = b->next;
            --l.depth[c];
            return b;
        }
        n = (c + 1) * kPoolGrain;
        (void)&drain;  // registers the drain of this thread's lists at its end
    }
    ++l.heapAllocations;
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}

void poolRelease(void* p, std::size_t n) noexcept
{
    if (!p)
        return;
    if (kRecycle && n <= kPoolLargest && !lists.drained) {
        Lists& l = lists;
        const std::size_t c = classOf(n);
        if (l.depth[c] < kPoolDepth) {
            auto* b = static_cast<FreeBlock*>(p);
            b->next = l.head[c];
            l.head[c] = b;
            ++l.depth[c];
            return;
        }
    }
    std::free(p);
}

uint64_t poolHeapAllocations() { return lists.heapAllocations; }

bool poolRecycles() { return kRecycle; }

}  // namespace detail
}  // namespace ASN1
