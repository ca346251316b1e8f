#pragma once
// List_allocator: a fixed pool of N blocks for objects of type T, reserved statically, with a
// last-in, first-out free list: the block released last is handed out first, so a busy path
// keeps reusing the few blocks still in the cache (and TLB) instead of walking the whole pool.
// Allocation and release are constant-time list operations; the general heap is never used, so
// the memory a process needs is fixed at start.
#include <cstddef>
#include <cstdint>

#include "foundation/F_dual_list.h"

#if defined(__SANITIZE_ADDRESS__)
#define VX_POOL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VX_POOL_ASAN 1
#endif
#endif
#ifdef VX_POOL_ASAN
#include <sanitizer/asan_interface.h>
#endif

// Writes the reason to std::clog and terminates: a pool's free list is about to be corrupted.
[[noreturn]] void List_allocator_fatal(const char* what);

// The lock policy of a pool used from one thread only: it locks nothing.
struct Dummy_critical_section {
  void lock() {}
  void unlock() {}
};

template <class T, unsigned N, class Lock>
class List_allocator {
 public:
  // One block: the free-list links, then room for one T. Trivially constructible, so the
  // static array lives in zero-filled storage and costs nothing until a block is used.
  struct List_storage {
    List_storage* next;
    List_storage* prev;
    bool in_free_list;
    alignas(T) unsigned char object[sizeof(T)];
  };

  static constexpr unsigned capacity = N;

  // The one pool of this element type. Its bookkeeping is constant-initialised and its blocks
  // are zero-filled static storage, so no guard or constructor runs before or during use.
  static List_allocator& instance() {
    static constinit List_allocator pool;
    return pool;
  }

  // The free block released last (at start: the lowest address not yet handed out), as
  // uninitialised room for a T; null when every block is in use.
  T* allocate() {
    Guard g(lock_);
    start();
    List_storage* b = free_list_.remove_from_head();
    if (!b) return nullptr;
    b->in_free_list = false;
#ifdef VX_POOL_ASAN
    ASAN_UNPOISON_MEMORY_REGION(b->object, sizeof b->object);
#endif
    return reinterpret_cast<T*>(b->object);
  }

  // Returns the block that holds p (already destroyed) to the head of the free list. A pointer
  // that is not a block of this pool, or a block released twice, would corrupt the free list
  // for good: that ends the process.
  void deallocate(T* p) {
    if (!p) return;
    Guard g(lock_);
    start();
    const auto raw = reinterpret_cast<std::uintptr_t>(p);
    const auto first = reinterpret_cast<std::uintptr_t>(&blocks()[0].object);
    const std::uintptr_t off = raw - first;  // wraps for pointers below the pool
    if (raw < first || off % sizeof(List_storage) != 0 || off / sizeof(List_storage) >= N)
      List_allocator_fatal("pool: release of a foreign block");
    List_storage* b = &blocks()[off / sizeof(List_storage)];
    if (b->in_free_list) List_allocator_fatal("pool: block released twice");
#ifdef VX_POOL_ASAN
    ASAN_POISON_MEMORY_REGION(b->object, sizeof b->object);
#endif
    b->in_free_list = true;
    free_list_.insert_to_head(b);
  }

  // Number of free blocks (for statistics, tests and leak checks).
  unsigned free_count() const {
    const_cast<List_allocator*>(this)->start();
    return free_list_.count();
  }

  // True when p points into this pool's storage.
  bool owns(const void* p) const {
    auto* c = static_cast<const unsigned char*>(p);
    auto* first = reinterpret_cast<const unsigned char*>(blocks());
    return c >= first && c < first + N * sizeof(List_storage);
  }

  List_allocator(const List_allocator&) = delete;
  List_allocator& operator=(const List_allocator&) = delete;

 private:
  struct Guard {
    explicit Guard(Lock& l) : l_(l) { l_.lock(); }
    ~Guard() { l_.unlock(); }
    Lock& l_;
  };

  constexpr List_allocator() = default;

  static List_storage* blocks() {
    static List_storage storage[N];
    return storage;
  }

  // Builds the free list over the blocks in address order, on first use, so that the pool is
  // ready whatever the order of static initialisation of its users.
  void start() {
    if (started_) return;
    started_ = true;
    List_storage* storage = blocks();
    free_list_.init(storage, N);
    for (unsigned i = 0; i < N; ++i) {
      storage[i].in_free_list = true;
#ifdef VX_POOL_ASAN
      ASAN_POISON_MEMORY_REGION(storage[i].object, sizeof storage[i].object);
#endif
    }
  }

  bool started_ = false;
  Lock lock_;
  F_dual_list<List_storage> free_list_;
};
