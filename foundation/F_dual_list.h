#pragma once
// Intrusive doubly linked lists: the element carries its own links, so no list operation
// allocates. Used for handlers, timers, child waits, protocol layers and the packet pool.
// A list never owns its elements, and checks nothing: remove() must be given a member.

template <class T>
struct F_dual_list_item {
  T* next = nullptr;
  T* prev = nullptr;
};

template <class T>
class F_dual_list {
 public:
  class iterator {
   public:
    explicit iterator(T* p = nullptr) : p_(p) {}
    T& operator*() const { return *p_; }
    T* operator->() const { return p_; }
    iterator& operator++() {
      p_ = p_->next;
      return *this;
    }
    iterator operator++(int) {
      iterator old = *this;
      p_ = p_->next;
      return old;
    }
    bool operator==(const iterator& o) const { return p_ == o.p_; }
    bool operator!=(const iterator& o) const { return p_ != o.p_; }
    T* get() const { return p_; }

   private:
    T* p_;
  };

  F_dual_list() = default;
  F_dual_list(const F_dual_list&) = delete;
  F_dual_list& operator=(const F_dual_list&) = delete;

  void push_back(T* e) { insert_to_tail(e); }

  void insert_to_tail(T* e) {
    e->next = nullptr;
    e->prev = tail_;
    if (tail_) tail_->next = e; else head_ = e;
    tail_ = e;
    ++count_;
  }

  void insert_to_head(T* e) {
    e->prev = nullptr;
    e->next = head_;
    if (head_) head_->prev = e; else tail_ = e;
    head_ = e;
    ++count_;
  }

  void insert_after(T* pos, T* e) {
    e->prev = pos;
    e->next = pos->next;
    if (pos->next) pos->next->prev = e; else tail_ = e;
    pos->next = e;
    ++count_;
  }

  // Unlinks e; e's own links are left as they were.
  void remove(T* e) {
    if (e->prev) e->prev->next = e->next; else head_ = e->next;
    if (e->next) e->next->prev = e->prev; else tail_ = e->prev;
    --count_;
  }

  T* remove_from_head() {
    T* e = head_;
    if (!e) return nullptr;
    head_ = e->next;
    if (head_) head_->prev = nullptr; else tail_ = nullptr;
    --count_;
    return e;
  }

  T* remove_from_tail() {
    T* e = tail_;
    if (!e) return nullptr;
    tail_ = e->prev;
    if (tail_) tail_->next = nullptr; else head_ = nullptr;
    --count_;
    return e;
  }

  // Linear membership test (callers that must not trust membership search first).
  bool contains(const T* e) const {
    for (T* p = head_; p; p = p->next)
      if (p == e) return true;
    return false;
  }

  unsigned size() const { return count_; }
  unsigned count() const { return count_; }
  bool empty() const { return count_ == 0; }
  T* begin_ptr() const { return head_; }
  iterator begin() const { return iterator(head_); }
  iterator end() const { return iterator(nullptr); }
  T* first() const { return head_; }
  T* last() const { return tail_; }

  // Exchanges the contents of the two lists.
  void merge(F_dual_list& o) {
    T* h = head_; T* t = tail_; unsigned c = count_;
    head_ = o.head_; tail_ = o.tail_; count_ = o.count_;
    o.head_ = h; o.tail_ = t; o.count_ = c;
  }

  // Builds the list over an array of n elements, in array order.
  void init(T* array, unsigned n) {
    head_ = tail_ = nullptr;
    count_ = 0;
    for (unsigned i = 0; i < n; ++i) insert_to_tail(&array[i]);
  }

 protected:
  T* head_ = nullptr;
  T* tail_ = nullptr;
  unsigned count_ = 0;
};

// A list kept in ascending order of T::compare(const T*) (a signed difference).
template <class T>
class F_sorted_list : public F_dual_list<T> {
 public:
  // Walks from the tail and links e after the first element not above it, so equal keys keep
  // their insertion order and the common case (a new latest element) costs one compare.
  void insert_to_tail_by_grown(T* e) {
    for (T* p = this->tail_; p; p = p->prev) {
      if (p->compare(e) <= 0) {
        this->insert_after(p, e);
        return;
      }
    }
    this->insert_to_head(e);
  }
};
