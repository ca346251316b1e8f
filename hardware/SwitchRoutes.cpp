#include "hardware/SwitchRoutes.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "board/board.h"
#include "board/mcc.h"
#include "foundation/Mux.h"
#include "foundation/TimerEvent.h"
#include "hardware/HwMux.h"

namespace {

struct Route {
  int source = -1;
  int released = -1;     // the released channel whose route this is; -1 while it is wanted
  bool grace = false;    // waits out the grace period (else a refused takedown waits to retry)
  bool idle = false;     // its owner disconnected it: idle, not disabled, when it goes
  uint32_t due = 0;      // loop clock (ms) of the next takedown
  unsigned retry = SwitchRoutes::kRetryMs;  // the wait after a refused takedown
};

using Routes = std::unordered_map<int, Route>;

struct Book {
  Routes routes;                        // output -> what feeds it
  std::size_t releasing = 0;            // routes with `released` set
  std::unordered_map<int, int> holds;   // released channel -> the descriptor that keeps it
  Timer timer;                          // armed while any route is released
};

// Never destroyed: channels released while the program exits still find it.
Book& book() {
  static auto* b = new Book;
  return *b;
}

bool due_now(const Route& r, uint32_t now) { return static_cast<int32_t>(r.due - now) <= 0; }

void expire();

// Keeps the timer on the earliest takedown (a clock set back, as tests do, could leave it on a
// later one).
void arm() {
  Book& b = book();
  if (b.releasing == 0) return b.timer.reset();
  const uint32_t now = Mux::milliseconds();
  bool found = false;
  uint32_t first = 0;
  for (const auto& [output, r] : b.routes) {
    if (r.released < 0) continue;
    if (!found || static_cast<int32_t>(r.due - first) < 0) first = r.due;
    found = true;
  }
  const int32_t left = std::max<int32_t>(static_cast<int32_t>(first - now), 0);
  const TimerEvent* armed = b.timer.get();
  if (!armed || static_cast<int32_t>(armed->due - first) > 0) b.timer.set(static_cast<unsigned>(left), &expire);
}

// Is a route into or out of channel still to be taken down?
bool stands(int channel) {
  for (const auto& [output, r] : book().routes) {
    if (r.released >= 0 && (r.released == channel || r.source == channel || output == channel)) return true;
  }
  return false;
}

// The descriptor kept for channel goes once no route into or out of the channel is left to
// take down.
void give_back(int channel) {
  Book& b = book();
  const auto hold = b.holds.find(channel);
  if (hold == b.holds.end() || stands(channel)) return;
  board::close(hold->second);
  b.holds.erase(hold);
}

// After a route went: the channels it kept may be given back.
void give_back(int released, int source, int output) {
  for (int channel : {released, source, output}) {
    if (channel >= 0) give_back(channel);
  }
}

void forget(Routes::iterator it) {
  Book& b = book();
  const auto [output, r] = *it;
  if (r.released >= 0) --b.releasing;
  b.routes.erase(it);
  if (r.released >= 0) give_back(r.released, r.source, output);
}

// Takes down every released route that pick accepts. One the switch refuses stays, to be
// tried again after its retry interval.
template <class Pick>
void take_down(Pick pick) {
  Book& b = book();
  const uint32_t now = Mux::milliseconds();
  std::vector<int> channels;
  auto note = [&channels](int channel) {
    if (channel >= 0 && std::find(channels.begin(), channels.end(), channel) == channels.end()) channels.push_back(channel);
  };
  for (auto it = b.routes.begin(); it != b.routes.end() && b.releasing > 0;) {
    Route& r = it->second;
    if (r.released < 0 || !pick(r)) {
      ++it;
      continue;
    }
    HwMux& mux = *HwMux::instance();
    if (!(r.idle ? mux.Disconnect(it->first) : mux.Disable(it->first))) {
      r.grace = false;
      r.due = now + r.retry;
      r.retry = std::min(r.retry * 2, SwitchRoutes::kGraceMs);
      ++it;
      continue;
    }
    note(r.released);
    note(r.source);
    note(it->first);
    --b.releasing;
    it = b.routes.erase(it);
  }
  for (int channel : channels) give_back(channel);
  arm();
}

void expire() {
  const uint32_t now = Mux::milliseconds();
  take_down([now](const Route& r) { return due_now(r, now); });
}

// Marks the route as one of the released channel's, to be taken down at due.
void mark(Route& r, int channel, bool grace, uint32_t due) {
  if (r.released < 0) ++book().releasing;
  r.released = channel;
  r.grace = grace;
  r.due = due;
}

}  // namespace

void SwitchRoutes::made(int source, int output) {
  if (source < 0 || output < 0) return;
  taken(output);
  Book& b = book();
  b.routes[output] = Route{source};
  // A released channel patched again has a new owner: old outputs of its that the switch
  // refused to take down are tried again before that owner sends anything.
  if (b.releasing > 0) take_down([source](const Route& r) { return r.released == source && r.source == source; });
}

void SwitchRoutes::taken(int output) {
  Book& b = book();
  if (auto it = b.routes.find(output); it != b.routes.end()) forget(it);
}

void SwitchRoutes::release(int source, int held, bool grace_wanted) {
  Book& b = book();
  if (source < 0) {
    if (held >= 0) board::close(held);
    return;
  }
  const uint32_t now = Mux::milliseconds();
  // Nothing that reaches the released source's input is wanted by anyone any more.
  if (auto in = b.routes.find(source); in != b.routes.end() && in->second.released < 0) mark(in->second, source, false, now);
  const bool grace = grace_wanted && (held >= 0 || held == kHeldElsewhere);
  for (auto& [output, r] : b.routes) {
    if (r.source != source || r.released >= 0) continue;
    if (grace) mark(r, source, true, now + kGraceMs);
    else mark(r, source, false, now);
  }
  if (held >= 0) {
    // A channel kept already needs no second descriptor.
    if (!b.holds.emplace(source, held).second) board::close(held);
  }
  take_down([source, now](const Route& r) { return r.released == source && due_now(r, now); });
  if (held >= 0) give_back(source);
}

bool SwitchRoutes::give_up(int channel, int held) {
  if (channel < 0) {
    if (held >= 0) board::close(held);
    return true;
  }
  // The channel's output goes disabled, whatever fed it (or nothing did).
  Route& in = book().routes.try_emplace(channel).first->second;
  in.idle = false;
  release(channel, held, false);
  return !stands(channel);
}

void SwitchRoutes::unwanted(int output) {
  Book& b = book();
  const auto it = b.routes.find(output);
  if (it == b.routes.end() || it->second.released >= 0) return;
  Route& r = it->second;
  r.idle = true;
  mark(r, r.source, false, Mux::milliseconds() + r.retry);
  r.retry = std::min(r.retry * 2, kGraceMs);
  arm();
}

void SwitchRoutes::claimed(int source) {
  if (source < 0 || book().releasing == 0) return;
  take_down([source](const Route& r) { return r.released == source; });
}

std::size_t SwitchRoutes::releasing() { return book().releasing; }

std::size_t SwitchRoutes::holding() { return book().holds.size(); }

bool SwitchRoutes::idle_after_grace(int output) {
  Book& b = book();
  const auto it = b.routes.find(output);
  if (it == b.routes.end() || !it->second.grace) return false;
  it->second.idle = true;
  return true;
}

bool SwitchRoutes::end_grace() {
  const std::size_t held = holding();
  if (held == 0) return false;
  take_down([](const Route& r) { return r.grace; });
  return holding() < held;
}

int SwitchRoutes::allocate(int fd, board::mcc::Allocate& block) {
  return allocate([&] { return board::ioctl(fd, board::mcc::MCC_ALLOCATE, &block); });
}
