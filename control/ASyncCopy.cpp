#include "control/ASyncCopy.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace ASync {

namespace {
constexpr short kHangup = POLLERR | POLLHUP | POLLNVAL;
// Steps (a read or a write) per wake-up: a source that never runs dry (a file, a fast peer)
// into a destination that never fills must not hold the loop. The rest follows on the next
// passes, woken by the side the copy waits for.
constexpr int kStepsPerPass = 64;
}

Copy::Copy() {
  // Bound once for the object's life: rebinding from inside a handler would delete the
  // handler object that is running.
  srcEvent_.Bind("Copy::OnSrcEvent", &Copy::OnSrcEvent, this);
  dstEvent_.Bind("Copy::OnDstEvent", &Copy::OnDstEvent, this);
}

Copy::~Copy() {
  delete handler_;
  handler_ = nullptr;
  srcEvent_.Release();
  dstEvent_.Release();
  src_.close();
  dst_.close();
}

void Copy::Bind(Handler* h) {
  if (h == handler_) return;
  delete handler_;
  handler_ = h;
}

bool Copy::active() const {
  return status_ == Status::running || status_ == Status::draining || status_ == Status::flushing;
}

void Copy::set_bufsize(unsigned int n) {
  // The copy ends before its buffer is replaced: a buffer still being written is never freed
  // under it.
  const bool ended = Finish(Status::aborted);
  bufsize_ = n;
  buffer_.reset(n ? new char[n] : nullptr);
  if (ended) Notify(Status::aborted);
}

void Copy::set_events(EventsParams const& e) {
  const bool ended = Finish(Status::aborted);
  events_ = e;
  if (ended) Notify(Status::aborted);
}

void Copy::Start(Fd src, Fd dst) {
  Finish(Status::aborted);  // a restart of a live copy drops it silently
  status_ = Status::running;
  src_ = src;
  dst_ = dst;
  srcEvent_.Release();
  dstEvent_.Release();
  if (!buffer_ || bufsize_ == 0) {
    bufsize_ = kDefaultBufsize;
    buffer_.reset(new char[bufsize_]);
  }
  srcEvent_.Schedule(src_, 0);
  dstEvent_.Schedule(dst_, 0);
  error_ = 0;
  copied_ = 0;
  pos_ = end_ = buffer_.get();
  step_ = SrcReady;
  Progress();
}

void Copy::Stop() {
  if (status_ == Status::running) GoFlush();
}

void Copy::Progress() {
  for (int steps = 0;; ++steps) {
    if (steps == kStepsPerPass) {
      Yield();
      return;
    }
    Next next = Wait;
    switch (step_) {
      case NotReady: next = Wait; break;
      case SrcReady: next = DoSrcReady(); break;
      case DstReady: next = DoDstReady(); break;
    }
    if (next == Wait) return;
  }
}

void Copy::Yield() {
  // Level-triggered: the side that is ready now wakes the copy again on the next pass.
  if (step_ == SrcReady) {
    dstEvent_.set_events(0);
    srcEvent_.set_events(static_cast<short>(events_.read));
  } else if (step_ == DstReady) {
    srcEvent_.set_events(0);
    dstEvent_.set_events(static_cast<short>(events_.write));
  }
}

Copy::Next Copy::DoSrcReady() {
  const ssize_t n = ::read(src_.get(), buffer_.get(), bufsize_);
  if (n > 0) {
    pos_ = buffer_.get();
    end_ = pos_ + n;
    srcEvent_.set_events(0);
    dstEvent_.set_events(static_cast<short>(events_.write));
    step_ = DstReady;
    return Continue;
  }
  if (n == 0) return GoFlush();
  if (errno == EAGAIN || errno == EWOULDBLOCK) {
    dstEvent_.set_events(0);
    srcEvent_.set_events(static_cast<short>(events_.read));
    return Wait;
  }
  if (errno == EINTR) return Continue;
  if (copied_ == 0) {
    Complete(Status::failed);
    return Wait;
  }
  return GoFlush();
}

Copy::Next Copy::DoDstReady() {
  const ssize_t n = ::write(dst_.get(), pos_, static_cast<size_t>(end_ - pos_));
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      srcEvent_.set_events(0);
      dstEvent_.set_events(static_cast<short>(events_.write));
      return Wait;
    }
    if (errno == EINTR) return Continue;
    error_ = errno;
    Complete(Status::failed);
    return Wait;
  }
  if (n == 0) {
    error_ = 0;
    Complete(Status::failed);
    return Wait;
  }
  copied_ += static_cast<uint64_t>(n);
  pos_ += n;
  if (pos_ < end_) return Continue;
  if (status_ == Status::draining) return GoFlushDst();
  dstEvent_.set_events(0);
  srcEvent_.set_events(static_cast<short>(events_.read));
  step_ = SrcReady;
  return Continue;
}

Copy::Next Copy::GoFlush() {
  srcEvent_.Release();
  src_.close();
  if (step_ == DstReady) {
    status_ = Status::draining;
    return Continue;
  }
  return GoFlushDst();
}

Copy::Next Copy::GoFlushDst() {
  if (events_.flush != 0) {
    dstEvent_.set_events(static_cast<short>(events_.flush));
    step_ = NotReady;
    status_ = Status::flushing;
    return Wait;
  }
  Complete(Status::done);
  return Wait;
}

void Copy::OnSrcEvent(int, short revents) {
  if (revents & static_cast<short>(events_.read)) {
    Progress();
  } else if (revents & kHangup) {
    srcEvent_.Release();
    Progress();
  }
}

void Copy::OnDstEvent(int, short revents) {
  if (revents & kHangup) {
    error_ = 0;
    Complete(Status::failed);
    return;
  }
  if (status_ == Status::running || status_ == Status::draining) {
    if (revents & static_cast<short>(events_.write)) Progress();
  } else if (status_ == Status::flushing) {
    if (revents & static_cast<short>(events_.flush)) Complete(Status::done);
  }
}

bool Copy::Finish(Status::Type status) {
  // Draining counts as active too, so that a failure while the last buffer is written still
  // ends the copy instead of leaving it polling a dead descriptor.
  if (!active()) return false;
  status_ = status;
  srcEvent_.Release();
  dstEvent_.Release();
  src_.close();
  dst_.close();
  step_ = NotReady;
  return true;
}

void Copy::Notify(Status::Type status) {
  if (handler_) handler_->Invoke(status);
}

void Copy::Complete(Status::Type status) {
  if (Finish(status)) Notify(status);
}

}  // namespace ASync
