#pragma once
// A ring of nodes embedded in their owners; an empty ring is a node linked to itself.
#include <cstddef>

namespace Containers {

struct CyclicList {
  CyclicList* next;
  CyclicList* prev;

  CyclicList() { InternalInit(); }
  void InternalInit() { next = prev = this; }
  bool empty() const { return next == this; }

  // Links a directly to b, dropping whatever lay between them.
  static void InternalDel(CyclicList* a, CyclicList* b) {
    a->next = b;
    b->prev = a;
  }
  // Inserts n between a and b (neighbours).
  static void InternalAdd(CyclicList* n, CyclicList* a, CyclicList* b) {
    b->prev = n;
    n->next = b;
    n->prev = a;
    a->next = n;
  }
  void add_tail(CyclicList* n) { InternalAdd(n, prev, this); }
  void unlink() {
    InternalDel(prev, next);
    InternalInit();
  }

  class TIterator {
   public:
    explicit TIterator(CyclicList* n) : n_(n) {}
    TIterator& operator++() {
      n_ = n_->next;
      return *this;
    }
    CyclicList* operator*() const { return n_; }
    bool operator==(const TIterator& o) const { return n_ == o.n_; }
    bool operator!=(const TIterator& o) const { return n_ != o.n_; }

   private:
    CyclicList* n_;
  };
};

// The owner X of a node embedded at byte offset `off` inside X.
template <class X>
X* offset(CyclicList* node, std::size_t off) {
  return reinterpret_cast<X*>(reinterpret_cast<char*>(node) - off);
}

}  // namespace Containers
