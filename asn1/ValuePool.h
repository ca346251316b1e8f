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

void* poolAllocate(std::size_t n);
void poolRelease(void* p, std::size_t n) noexcept;
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
