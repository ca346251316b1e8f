#pragma once
// One-shot timers of the event loop: TimerEvent is an entry of the loop's timer list, sorted
// by due time on the wrapping millisecond clock; Timer owns at most one pending entry that
// calls a member of its owner, and setting it again replaces the pending entry.
#include <cstdint>
#include <type_traits>

#include "foundation/F_dual_list.h"

class TimerEvent : public F_dual_list_item<TimerEvent> {
 public:
  uint32_t due = 0;  // Mux::milliseconds() at which the entry fires

  TimerEvent() = default;
  TimerEvent(const TimerEvent&) = delete;
  TimerEvent& operator=(const TimerEvent&) = delete;
  virtual ~TimerEvent();
  virtual void fire() = 0;

  // Arms (or re-arms) the entry ms milliseconds from now.
  void schedule(unsigned ms);
  // Disarms the entry; nothing when it is not armed.
  void reset();
  // Signed distance of the due times, this minus other: orders entries across the wrap.
  int compare(const TimerEvent* other) const { return static_cast<int32_t>(due - other->due); }
  bool armed() const { return armed_; }

 private:
  friend class Multiplexer;
  bool armed_ = false;    // in the loop's timer list: spares the list search on re-arm
  int8_t hint_slot_ = -1;  // the loop's insertion hint that names this entry, if any
};

// Holder of at most one pending timer entry (owning, auto_ptr-like).
class Timer {
 public:
  Timer() = default;
  explicit Timer(TimerEvent* e) : ev_(e) {}
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;
  ~Timer() { delete ev_; }

  TimerEvent* get() const { return ev_; }
  TimerEvent* release() {
    TimerEvent* e = ev_;
    ev_ = nullptr;
    return e;
  }
  // Deletes (and so disarms) the held entry unless it is e, then holds e.
  void reset(TimerEvent* e = nullptr) {
    if (e != ev_) delete ev_;
    ev_ = e;
  }
  bool is_set() const { return ev_ != nullptr; }

  // Calls obj->member() in ms milliseconds, replacing a pending call.
  template <class X>
  void set(unsigned ms, void (std::type_identity_t<X>::*member)(), X* obj);
  // Calls obj->member(this Timer) in ms milliseconds, replacing a pending call.
  template <class X>
  void set(unsigned ms, void (std::type_identity_t<X>::*member)(Timer*), X* obj);
  // Calls fn() in ms milliseconds, replacing a pending call.
  void set(unsigned ms, void (*fn)());

 private:
  TimerEvent* ev_ = nullptr;
};

namespace timer_detail {
// The owner lets go of the entry before its call, so the call may set the Timer again.
inline void release_owner(Timer* owner, TimerEvent* e) {
  if (owner && owner->get() == e) owner->release();
}
}  // namespace timer_detail

template <class X>
class ObjTimerEvent1 : public TimerEvent {
 public:
  using Member = void (X::*)();
  ObjTimerEvent1(Timer* owner, Member member, X* obj, unsigned ms)
      : owner_(owner), member_(member), obj_(obj) {
    schedule(ms);
  }
  void fire() override {
    timer_detail::release_owner(owner_, this);
    (obj_->*member_)();
    delete this;
  }

 private:
  Timer* owner_;
  Member member_;
  X* obj_;
};

template <class X>
class ObjTimerEvent2 : public TimerEvent {
 public:
  using Member = void (X::*)(Timer*);
  ObjTimerEvent2(Timer* owner, Member member, X* obj, unsigned ms)
      : owner_(owner), member_(member), obj_(obj) {
    schedule(ms);
  }
  void fire() override {
    timer_detail::release_owner(owner_, this);
    (obj_->*member_)(owner_);
    delete this;
  }

 private:
  Timer* owner_;
  Member member_;
  X* obj_;
};

class SimpleTimerEvent1 : public TimerEvent {
 public:
  SimpleTimerEvent1(Timer* owner, void (*fn)(), unsigned ms) : owner_(owner), fn_(fn) {
    schedule(ms);
  }
  void fire() override {
    timer_detail::release_owner(owner_, this);
    fn_();
    delete this;
  }

 private:
  Timer* owner_;
  void (*fn_)();
};

template <class X>
void Timer::set(unsigned ms, void (std::type_identity_t<X>::*member)(), X* obj) {
  reset(new ObjTimerEvent1<X>(this, member, obj, ms));
}

template <class X>
void Timer::set(unsigned ms, void (std::type_identity_t<X>::*member)(Timer*), X* obj) {
  reset(new ObjTimerEvent2<X>(this, member, obj, ms));
}

inline void Timer::set(unsigned ms, void (*fn)()) { reset(new SimpleTimerEvent1(this, fn, ms)); }

// A Timer whose member and interval come from a constant record:
//   static constexpr TimerSpec<Slot>::Entry kUpdateEntry{&Slot::OnUpdateTimer, 3000};
//   TimerSpec<Slot>::SpecTimer<kUpdateEntry> updateTimer;  ...  updateTimer.set(this);
template <class X>
struct TimerSpec {
  struct Entry {
    void (X::*handler)();
    unsigned interval;  // ms
  };
  template <const Entry& entry>
  class SpecTimer : public Timer {
   public:
    void set(X* obj) { Timer::set<X>(entry.interval, entry.handler, obj); }
    using Timer::set;
  };
};
