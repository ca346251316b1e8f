#pragma once
// The benchmarks that report heap allocations per operation replace the global operator new
// with this counting one. Include it in exactly one source of a benchmark program.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace bench {
// Every operator new of the process since it started.
inline std::atomic<uint64_t> allocations{0};
}  // namespace bench

// The counting new takes its memory from malloc and its delete gives it back with free; GCC
// cannot see that the two are paired and warns about a mismatch that is not there.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t n) {
  bench::allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
