#include "foundation/AcceptPause.h"

#include <cerrno>
#include <cstring>
#include <ostream>

#include "foundation/Event.h"

bool AcceptPause::Shortage(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

void AcceptPause::Watch(Event& watch, const Fd& socket, short events, std::ostream& log, const char* prefix) {
  timer_.reset();
  watch_ = &watch;
  socket_ = &socket;
  events_ = events;
  if (watch.Schedule(socket, held_ ? 0 : events)) return;
  if (!told_)
    log << prefix << "can't watch listening socket: " << std::strerror(errno) << ", trying again in " << pause_ms
        << " ms" << std::endl;
  told_ = true;
  timer_.set(pause_ms, &AcceptPause::Resume, this);
}

bool AcceptPause::Pause(int error, Event& watch, const Fd& socket, std::ostream& log, const char* prefix) {
  if (!Shortage(error)) return false;
  if (!told_)
    log << prefix << "accept failed: " << std::strerror(error) << ", accepting again in " << pause_ms << " ms"
        << std::endl;
  told_ = true;
  if (!paused() && !held_) events_ = watch.events();
  watch_ = &watch;
  socket_ = &socket;
  // Only the poll mask is cleared: the watch keeps its descriptor, which costs none while there
  // are none to spare.
  watch.set_events(0);
  timer_.set(pause_ms, &AcceptPause::Resume, this);
  return true;
}

void AcceptPause::Cancel() {
  timer_.reset();
  watch_ = nullptr;
  socket_ = nullptr;
}

void AcceptPause::Hold(bool hold) {
  held_ = hold;
  if (!watch_ || !socket_) return;
  if (!hold) {
    if (!paused()) Resume();
  } else if (watch_->fd() >= 0) {
    watch_->set_events(0);
  }
}

void AcceptPause::Resume() {
  if (held_ || !watch_ || !socket_) return;
  if (watch_->fd() >= 0) {
    watch_->set_events(events_);
    return;
  }
  if (!watch_->Schedule(*socket_, events_)) timer_.set(pause_ms, &AcceptPause::Resume, this);
}
