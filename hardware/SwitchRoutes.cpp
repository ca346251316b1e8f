#include "hardware/SwitchRoutes.h"

#include <cstdint>
#include <unordered_map>

#include "foundation/Mux.h"
#include "foundation/TimerEvent.h"
#include "hardware/HwMux.h"

namespace {

struct Route {
  int source = -1;
  bool released = false;  // its source is gone; the output waits for `due`
  uint32_t due = 0;       // loop clock (ms) at which a released route is disabled
  bool idle = false;      // its owner disconnected it: idle, not disabled, when it goes
};

struct Book {
  std::unordered_map<int, Route> routes;  // output -> what feeds it
  std::size_t releasing = 0;              // routes marked released
  Timer timer;                            // armed while any route is released
};

// Never destroyed: channels released while the program exits still find it.
Book& book() {
  static auto* b = new Book;
  return *b;
}

// Disables and forgets every released route that `due` accepts.
template <class Due>
void disable_released(Due due) {
  Book& b = book();
  for (auto it = b.routes.begin(); it != b.routes.end() && b.releasing > 0;) {
    if (!it->second.released || !due(it->second)) {
      ++it;
      continue;
    }
    if (it->second.idle) HwMux::instance()->Disconnect(it->first);
    else HwMux::instance()->Disable(it->first);
    --b.releasing;
    it = b.routes.erase(it);
  }
}

void expire() {
  const uint32_t now = Mux::milliseconds();
  unsigned next = 0;
  disable_released([&](const Route& r) {
    const int32_t left = static_cast<int32_t>(r.due - now);
    if (left <= 0) return true;
    if (next == 0 || static_cast<unsigned>(left) < next) next = static_cast<unsigned>(left);
    return false;
  });
  if (next > 0) book().timer.set(next, &expire);
}

void forget(std::unordered_map<int, Route>::iterator it) {
  Book& b = book();
  if (it->second.released) --b.releasing;
  b.routes.erase(it);
}

}  // namespace

void SwitchRoutes::made(int source, int output) {
  if (source < 0 || output < 0) return;
  taken(output);
  Book& b = book();
  b.routes[output] = Route{source};
  // A released channel patched again has a new owner: its old outputs go before that owner
  // sends anything.
  if (b.releasing > 0) disable_released([source](const Route& r) { return r.source == source; });
}

void SwitchRoutes::taken(int output) {
  Book& b = book();
  if (auto it = b.routes.find(output); it != b.routes.end()) forget(it);
}

void SwitchRoutes::release(int source) {
  if (source < 0) return;
  Book& b = book();
  // Nothing that reaches the released source's input is wanted by anyone any more.
  if (auto in = b.routes.find(source); in != b.routes.end()) {
    HwMux::instance()->Disable(source);
    forget(in);
  }
  const uint32_t due = Mux::milliseconds() + kGraceMs;
  for (auto& [output, r] : b.routes) {
    if (r.source != source || r.released) continue;
    r.released = true;
    r.due = due;
    ++b.releasing;
  }
  // The timer stays on the earliest due time (a clock set back, as tests do, could leave it
  // on a later one).
  const TimerEvent* armed = b.timer.get();
  if (b.releasing > 0 && (!armed || static_cast<int32_t>(armed->due - due) > 0)) b.timer.set(kGraceMs, &expire);
}

std::size_t SwitchRoutes::releasing() { return book().releasing; }

bool SwitchRoutes::idle_after_grace(int output) {
  Book& b = book();
  const auto it = b.routes.find(output);
  if (it == b.routes.end() || !it->second.released) return false;
  it->second.idle = true;
  return true;
}
