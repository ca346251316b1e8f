#pragma once
// ASync::Connect opens an outgoing TCP connection without blocking the loop, within a time
// limit, and reports its end once with the connected descriptor.
#include <string>

#include "foundation/Event.h"
#include "foundation/Fd.h"
#include "foundation/TimerEvent.h"

namespace ASync {

class Connect {
 public:
  struct Status {
    enum Type { idle = 0, connecting = 1, failed = 2, connected = 3, stopped = 4 };
  };
  class Handler {
   public:
    virtual ~Handler() = default;
    // fd is the connection when connected (the handler keeps a duplicate), else -1.
    virtual void Invoke(Status::Type status, Fd fd) = 0;
  };
  template <class X>
  class THandler : public Handler {
   public:
    using Action = void (X::*)(Status::Type, Fd);
    THandler(Action action, X* obj) : action_(action), obj_(obj) {}
    void Invoke(Status::Type status, Fd fd) override { (obj_->*action_)(status, std::move(fd)); }

   private:
    Action action_;
    X* obj_;
  };

  Connect();
  ~Connect();
  Connect(const Connect&) = delete;
  Connect& operator=(const Connect&) = delete;

  void Bind(Handler* h);
  template <class X>
  void Bind(typename THandler<X>::Action action, X* obj) {
    Bind(new THandler<X>(action, obj));
  }
  void UnBind() { Bind(nullptr); }

  // Connects to "a.b.c.d:port", failing after timeoutMs.
  void Start(std::string const& address, unsigned int timeoutMs);
  void Stop() { Complete(Status::stopped); }

  Status::Type status() const { return status_; }

 private:
  void OnSocketEvent(int fd, short revents);
  void OnTimeOut(Timer*);
  void Complete(Status::Type status);

  Status::Type status_ = Status::idle;
  Fd socket_;
  Event event_;
  Handler* handler_ = nullptr;
  Timer timer_;
};

}  // namespace ASync
