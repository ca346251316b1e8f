#pragma once
// ASync::Copy pumps bytes from one descriptor to another through one buffer without
// blocking the loop, polling only one side at a time, and reports its end once.
#include <cstdint>
#include <memory>

#include "foundation/Event.h"
#include "foundation/Fd.h"

namespace ASync {

class Copy {
 public:
  struct Status {
    enum Type { idle = 0, running = 1, draining = 2, flushing = 3, failed = 4, done = 5, aborted = 6 };
  };
  // Poll masks: the source's readiness, the destination's, and the event awaited on the
  // destination before the copy counts as done (0: none).
  struct EventsParams {
    uint32_t read = 1;     // POLLIN
    uint32_t write = 4;    // POLLOUT
    uint32_t flush = 256;  // POLLWRNORM
  };
  class Handler {
   public:
    virtual ~Handler() = default;
    virtual void Invoke(Status::Type status) = 0;
  };
  template <class X>
  class THandler : public Handler {
   public:
    using Action = void (X::*)(Status::Type);
    THandler(Action action, X* obj) : action_(action), obj_(obj) {}
    void Invoke(Status::Type status) override { (obj_->*action_)(status); }

   private:
    Action action_;
    X* obj_;
  };

  static constexpr unsigned kDefaultBufsize = 1024;

  Copy();
  ~Copy();
  Copy(const Copy&) = delete;
  Copy& operator=(const Copy&) = delete;

  void Bind(Handler* h);
  template <class X>
  void Bind(typename THandler<X>::Action action, X* obj) {
    Bind(new THandler<X>(action, obj));
  }
  void UnBind() { Bind(nullptr); }

  // Each ends a copy in progress with aborted.
  void set_bufsize(unsigned int n);
  void set_events(EventsParams const& e);

  // Copies from duplicates of src to duplicates of dst until src ends.
  void Start(Fd src, Fd dst);
  // Ends the input side: what was read is still written out.
  void Stop();

  Status::Type status() const { return status_; }
  int error() const { return error_; }
  uint64_t copied() const { return copied_; }
  unsigned bufsize() const { return bufsize_; }
  const EventsParams& events() const { return events_; }

 private:
  enum Step { NotReady, SrcReady, DstReady };
  // One step's verdict: run the next step now, or wait for an event.
  enum Next { Continue, Wait };

  void Progress();
  // Leaves the rest of the copy to the next wake-up of the side it waits for.
  void Yield();
  Next DoSrcReady();
  Next DoDstReady();
  Next GoFlush();
  Next GoFlushDst();
  void OnSrcEvent(int fd, short revents);
  void OnDstEvent(int fd, short revents);
  // Ends an active copy without telling anyone; false when none was active.
  bool Finish(Status::Type status);
  void Complete(Status::Type status);
  void Notify(Status::Type status);
  bool active() const;

  Fd src_, dst_;
  EventsParams events_;
  unsigned bufsize_ = 0;
  int error_ = 0;
  Step step_ = NotReady;
  Handler* handler_ = nullptr;
  Event srcEvent_, dstEvent_;
  uint64_t copied_ = 0;
  char* pos_ = nullptr;
  char* end_ = nullptr;
  Status::Type status_ = Status::idle;
  std::unique_ptr<char[]> buffer_;
};

}  // namespace ASync
