#pragma once
// CleanQueue: a fixed ring of N packet references for the link layers' send, retransmission and
// acknowledgement queues. Full and empty are reported by false results; nothing allocates.
#include <utility>

template <class T, unsigned N>
class CleanQueue {
  static_assert(N > 0, "a queue needs at least one slot");

 public:
  CleanQueue() = default;
  CleanQueue(const CleanQueue&) = delete;
  CleanQueue& operator=(const CleanQueue&) = delete;
  // Releases every slot, from the last to the first.
  ~CleanQueue() { release_all(); }

  unsigned size() const { return N; }
  unsigned count() const { return count_; }
  bool empty() const { return count_ == 0; }

  // Stores p as the newest entry; false when full.
  bool put(const T& p) {
    if (count_ == N) return false;
    slot_[tail_] = p;
    tail_ = next(tail_);
    ++count_;
    return true;
  }

  // Stores p in front of the oldest entry, so that it is taken first; false when full.
  bool append(const T& p) {
    if (count_ == N) return false;
    head_ = prev(head_);
    slot_[head_] = p;
    ++count_;
    return true;
  }

  // Takes the oldest entry out; false when empty. A null out discards the entry.
  bool get(T* out) {
    if (count_ == 0) return false;
    take(slot_[head_], out);
    head_ = next(head_);
    --count_;
    return true;
  }
  bool get(T& out) { return get(&out); }

  // Takes the newest entry out; false when empty. A null out discards the entry.
  bool get_last(T* out) {
    if (count_ == 0) return false;
    tail_ = prev(tail_);
    take(slot_[tail_], out);
    --count_;
    return true;
  }

  // Copies the oldest entry without removing it; false when empty, true for a null out.
  bool preview(T* out) const {
    if (count_ == 0) return false;
    if (out) *out = slot_[head_];
    return true;
  }

  // Empties the queue and releases every packet it held at once.
  void clear() {
    release_all();
    head_ = tail_ = count_ = 0;
  }

 private:
  static unsigned next(unsigned i) { return i + 1 == N ? 0 : i + 1; }
  static unsigned prev(unsigned i) { return i == 0 ? N - 1 : i - 1; }

  static void take(T& slot, T* out) {
    if (out)
      *out = std::move(slot);
    slot = T();
  }

  void release_all() {
    for (unsigned i = N; i-- > 0;) slot_[i] = T();
  }

  T slot_[N];
  unsigned head_ = 0;   // the oldest entry
  unsigned tail_ = 0;   // the next free slot
  unsigned count_ = 0;
};
