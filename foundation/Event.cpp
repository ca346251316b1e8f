#include "foundation/Event.h"

#include <poll.h>

#include "foundation/Multiplexer.h"

void EventHandler::mux_attach() {
  if (attached) return;
  multiplexer.attach(this);
  attached = true;
}

void EventHandler::mux_detach() {
  if (!attached) return;
  multiplexer.detach(this);
  attached = false;
}

Event::~Event() {
  delete handler_;
  handler_ = nullptr;
  mux_detach();
  fd_.close();
}

bool Event::Schedule(const Fd& fd, short events) {
  if (fd_) mux_detach();
  if (&fd != &fd_) fd_.reset(fd.dup());
  events_ = events;
  if (!fd_) return false;
  mux_attach();
  return true;
}

void Event::Release() {
  if (fd_) mux_detach();
  fd_.close();
}

void Event::Bind(Handler* h) {
  if (h == handler_) return;
  delete handler_;
  handler_ = h;
}

void Event::shedule_event(pollfd& p) {
  p.fd = fd_.get();
  p.events = events_;
}

void Event::svc_event(short revents) {
  if (revents & events_) ++counter_;
  if (handler_) handler_->Invoke(fd_.get(), revents);
}
