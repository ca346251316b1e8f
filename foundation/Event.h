#pragma once
// Descriptor readiness: EventHandler is what the event loop polls; Event watches its own
// duplicate of one descriptor for given poll events and hands readiness to a bound member.
#include <string>

#include "foundation/F_dual_list.h"
#include "foundation/Fd.h"
#include "foundation/Measure.h"

struct pollfd;

class EventHandler : public F_dual_list_item<EventHandler> {
 public:
  bool attached = false;  // attached to multiplexer through mux_attach
  short revents = 0;      // stored by the loop before serving

  EventHandler() = default;
  EventHandler(const EventHandler&) = delete;
  EventHandler& operator=(const EventHandler&) = delete;
  virtual ~EventHandler() = default;
  // Fills the handler's poll entry.
  virtual void shedule_event(pollfd& p) = 0;
  // Serves the returned events.
  virtual void svc_event(short revents) = 0;
  virtual std::string event_name() const { return "unknown"; }
  virtual bool is_named() const { return false; }

  void mux_attach();
  void mux_detach();
  // Serves the stored revents (what the loop calls).
  void svc_event() { svc_event(revents); }

 private:
  friend class Multiplexer;
  F_dual_list<EventHandler>* mux_list_ = nullptr;  // the loop's list that holds it
  int poll_slot_ = -1;                             // its entry in the loop's poll array
};

class Event : public EventHandler {
 public:
  class Handler {
   public:
    virtual ~Handler() = default;
    virtual void Invoke(int fd, short revents) = 0;
  };

  template <class X>
  class THandler : public Handler {
   public:
    using Action = void (X::*)(int, short);
    THandler(Action member, X* obj) : member_(member), obj_(obj) {}
    void Invoke(int fd, short revents) override {
      if (member_) (obj_->*member_)(fd, revents);
    }

   private:
    Action member_;
    X* obj_;
  };

  Event() = default;
  ~Event() override;

  // Starts or changes watching: keeps its own duplicate of fd and the poll mask. False when
  // the duplicate could not be made (out of descriptors): nothing is watched then.
  bool Schedule(const Fd& fd, short events);
  // Stops watching and closes its descriptor; the handler stays bound.
  void Release();
  // Replaces (and deletes) the handler; null drops it.
  void Bind(Handler* h);
  template <class X>
  void Bind(const std::string& name, typename THandler<X>::Action member, X* obj) {
    name_ = name;
    Bind(new THandler<X>(member, obj));
  }
  void UnBind() { Bind(nullptr); }

  void shedule_event(pollfd& p) override;
  using EventHandler::svc_event;
  void svc_event(short revents) override;
  std::string event_name() const override { return name_; }
  bool is_named() const override { return true; }

  const std::string& name() const { return name_; }
  void set_name(const std::string& n) { name_ = n; }
  short events() const { return events_; }
  void set_events(short ev) { events_ = ev; }
  int fd() const { return fd_.get(); }
  const Fd& own_fd() const { return fd_; }
  unsigned counter() const { return counter_; }
  Handler* handler() const { return handler_; }

  // For the owner to time its own processing; shown in the loop's status table.
  Measure measure;

 private:
  Handler* handler_ = nullptr;
  Fd fd_;
  short events_ = 0;
  std::string name_ = "Unknown";
  unsigned counter_ = 0;
};
