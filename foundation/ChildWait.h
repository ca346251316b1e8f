#pragma once
// Watches for the end of child processes. SIGCHLD only wakes the event loop (one byte on a
// socket pair); the loop then reaps every ended child and calls the handler of the ChildWait
// attached to its pid, once, from the loop.
#include <cstddef>
#include <new>
#include <type_traits>

#include "foundation/Event.h"
#include "foundation/F_dual_list.h"
#include "foundation/Fd.h"

class ChildWait : public F_dual_list_item<ChildWait> {
 public:
  // What to do when the child ends; lives in the ChildWait's own storage, never on the heap.
  class Handler {
   public:
    virtual ~Handler() = default;
    virtual void Invoke(ChildWait& wait, int status) = 0;
    static void operator delete(void*) {}
  };

  class DummyHandler : public Handler {
   public:
    void Invoke(ChildWait&, int) override {}
  };

  template <class X>
  class THandler1 : public Handler {
   public:
    using Member = void (X::*)(int);
    THandler1(X* obj, Member member) : obj_(obj), member_(member) {}
    void Invoke(ChildWait&, int status) override { (obj_->*member_)(status); }

   private:
    X* obj_;
    Member member_;
  };

  ChildWait() { handler = new (storage) DummyHandler; }
  ~ChildWait();
  ChildWait(const ChildWait&) = delete;
  ChildWait& operator=(const ChildWait&) = delete;

  // The member is called with the raw wait status; replaces an earlier handler. The object
  // alone names X, so a member inherited from a base class binds as well.
  template <class X>
  void Bind(X* obj, void (std::type_identity_t<X>::*member)(int)) {
    static_assert(sizeof(THandler1<X>) <= sizeof storage, "handler does not fit");
    handler->~Handler();
    handler = new (storage) THandler1<X>(obj, member);
  }

  // Watches the child pid (moving this watch to the tail of the list when already listed).
  void Attach(int pid);
  void Detach();
  bool attached() const;

  static void Initialize();
  static void Cleanup();
  // Opens the socket pair and installs the SIGCHLD handler; once, at start-up.
  static void Activate();

  static int UsageCounter;

  int pid = -1;
  alignas(std::max_align_t) unsigned char storage[64];
  Handler* handler;
};

// The loop side of the child watch: reads the wake-ups and reaps.
class ChildWaitService : public Event {
 public:
  void OnChildEvent(int fd, short revents);
  static void SigChldHandlerWrapper(int sig);

  static ChildWaitService* childWaitService;

  Fd writeEnd;
  F_dual_list<ChildWait> waits;
};

namespace {
// Creates the service before the first user in each translation unit, removes it after the last.
struct ChildWaitUsage {
  ChildWaitUsage() {
    if (++ChildWait::UsageCounter == 1) ChildWait::Initialize();
  }
  ~ChildWaitUsage() {
    if (--ChildWait::UsageCounter == 0) ChildWait::Cleanup();
  }
} childWaitUsage;
}  // namespace
