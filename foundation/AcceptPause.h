#pragma once
// Keeps a listening socket from spinning the loop while the process is short of descriptors or
// memory: a failed accept leaves the peer queued and the socket readable, so every pass would
// try again. The listener's watch stops polling for a while instead and polls again after it,
// and the peers still queued are taken once descriptors are back. A watch that cannot even be
// started (its duplicate of the socket fails) is tried again the same way.
#include <iosfwd>

#include "foundation/TimerEvent.h"

class Event;
class Fd;

class AcceptPause {
 public:
  static constexpr unsigned pause_ms = 1000;

  AcceptPause() = default;
  AcceptPause(const AcceptPause&) = delete;
  AcceptPause& operator=(const AcceptPause&) = delete;

  // True when error (of a failed accept) says the process is short of descriptors or memory.
  static bool Shortage(int error);
  // Starts watch on the listening socket for events. When the watch cannot take its duplicate,
  // one line goes to log (after prefix) and it is tried again every pause_ms.
  void Watch(Event& watch, const Fd& socket, short events, std::ostream& log, const char* prefix = "");
  // error ended an accept on the socket that watch polls: on a shortage the watch stops polling
  // for pause_ms and true is returned. The first pause of a shortage writes one line to log,
  // after prefix; the pauses that follow it stay silent until a peer is accepted again.
  bool Pause(int error, Event& watch, const Fd& socket, std::ostream& log, const char* prefix = "");
  // A peer was accepted: the next shortage is told again.
  void Accepted() { told_ = false; }
  // Ends a pending pause without touching the watch (the listener is going away). Both the
  // watch and the socket must stay until then.
  void Cancel();
  bool paused() const { return timer_.is_set(); }
  // While held the watch does not poll, pause or no pause: peers wait in the backlog. A pause
  // that ends during a hold leaves it held; a hold that ends during a pause leaves the pause
  // its time.
  void Hold(bool hold);
  bool held() const { return held_; }

 private:
  void Resume();

  Timer timer_;
  Event* watch_ = nullptr;
  const Fd* socket_ = nullptr;
  short events_ = 0;
  bool told_ = false;
  bool held_ = false;
};
