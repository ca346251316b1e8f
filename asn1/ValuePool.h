// Recycled memory for value trees: every value object (and a SEQUENCE's slot table) comes from
// per-thread free lists by size, so that decoding a message into a fresh value and dropping it
// again does not reach the heap once the lists are warm. Bounded: a list keeps at most
// kPoolDepth blocks and hands the rest back to the heap.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ASN1 {
namespace detail {

constexpr std::size_t kPoolGrain = 16;
constexpr std::size_t kPoolLargest = 512;  // larger blocks go straight to the heap
constexpr std::size_t kPoolDepth = 4096;

// Under AddressSanitizer blocks are not recycled, so that a use after free in a value tree is
// still caught.
#if defined(__SANITIZE_ADDRESS__)
#define VX_ASN1_POOL_RECYCLES 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VX_ASN1_POOL_RECYCLES 0
#endif
#endif
#ifndef VX_ASN1_POOL_RECYCLES
#define VX_ASN1_POOL_RECYCLES 1
#endif

struct PoolBlock {
    PoolBlock* next;
};

// This thread's free lists: class c holds blocks of (c + 1) * kPoolGrain bytes. Trivially
// destructible, so that it can still be read after the thread's exit began (values freed by
// static destructors then go straight back to the heap).
struct PoolLists {
    PoolBlock* head[kPoolLargest / kPoolGrain];
    std::size_t depth[kPoolLargest / kPoolGrain];
    uint64_t heapAllocations;
    bool drained;
};
extern thread_local constinit PoolLists poolLists;

void* poolAllocateSlow(std::size_t n);
void poolReleaseSlow(void* p, std::size_t n) noexcept;

inline void* poolAllocate(std::size_t n)
{
    if (VX_ASN1_POOL_RECYCLES && n - 1 < kPoolLargest) {
        PoolLists& l = poolLists;
        const std::size_t c = (n - 1) / kPoolGrain;
        if (PoolBlock* b = l.head[c]) {
            l.head[c] = b->next;
            --l.depth[c];
            return b;
        }
    }
    return poolAllocateSlow(n);
}

inline void poolRelease(void* p, std::size_t n) noexcept
{
    if (VX_ASN1_POOL_RECYCLES && p && n - 1 < kPoolLargest) {
        PoolLists& l = poolLists;
        const std::size_t c = (n - 1) / kPoolGrain;
        if (l.depth[c] < kPoolDepth && !l.drained) {
            auto* b = static_cast<PoolBlock*>(p);
            b->next = l.head[c];
            l.head[c] = b;
            ++l.depth[c];
            return;
        }
    }
    poolReleaseSlow(p, n);
}
// Blocks the pool had to take from the heap so far on this thread (for benchmarks).
uint64_t poolHeapAllocations();
// False under AddressSanitizer, which must see every free to catch a use after it.
bool poolRecycles();

// Standard allocator over the pool, for containers inside value objects.
template <class T>
struct PoolAllocator {
    using value_type = T;
    PoolAllocator() = default;
    template <class U>
    PoolAllocator(const PoolAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return static_cast<T*>(poolAllocate(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) noexcept { poolRelease(p, n * sizeof(T)); }
    template <class U>
    bool operator==(const PoolAllocator<U>&) const noexcept { return true; }
    template <class U>
    bool operator!=(const PoolAllocator<U>&) const noexcept { return false; }
};

}  // namespace detail
}  // namespace ASN1
