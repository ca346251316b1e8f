#include "hardware/SwitchRoutes.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <iostream>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "board/board.h"
#include "board/hal.h"
#include "board/mcc.h"
#include "foundation/Event.h"
#include "foundation/Mux.h"
#include "foundation/TimerEvent.h"
#include "hardware/HwMux.h"
#include "hardware/SwitchModel.h"
#include "hardware/SwitchUsers.h"

namespace {

using State = SwitchModel::State;

// The takedowns a switch refuses are retried by HwMux's reconciler, on its timer.
static_assert(SwitchRoutes::kRetryMs == HwMux::kRetryMs);

void taken_back(int channel);

// A descriptor kept for a released channel, watched for the board's hang-up: the board took the
// channel back and may hand the number to a new owner at once.
class Hold : public EventHandler {
 public:
  Hold(int channel, int fd, std::vector<int> with = {}) : channel_(channel), fd_(fd), with_(std::move(with)) {
    mux_attach();
  }
  ~Hold() override {
    mux_detach();
    board::close(fd_);
  }
  int fd() const { return fd_; }
  // Some route of the channel, or of a channel that goes with the descriptor, still stands.
  bool routed() const {
    if (SwitchModel::route_uses(channel_)) return true;
    for (int c : with_)
      if (SwitchModel::route_uses(c)) return true;
    return false;
  }
  void shedule_event(pollfd& p) override {
    p.fd = fd_;
    p.events = 0;  // only the hang-up and errors, which poll always reports
  }
  void svc_event(short revents) override {
    if (revents & (POLLHUP | POLLERR | POLLNVAL)) taken_back(channel_);
  }
  std::string event_name() const override { return "SwitchRoutes::Hold"; }

 private:
  int channel_;
  int fd_;
  std::vector<int> with_;
};

struct Book {
  std::unordered_map<int, std::unique_ptr<Hold>> holds;  // released channel -> what keeps it
  Timer timer;  // armed on the earliest deadline of a grace
};

// Never destroyed: channels released while the program exits still find it.
Book& book() {
  static auto* b = new Book;
  return *b;
}

HwMux& mux() { return *HwMux::instance(); }
SwitchModel& model() { return mux().model(); }

bool due_now(uint32_t due, uint32_t now) { return static_cast<int32_t>(due - now) <= 0; }

void expire();

// Keeps the timer on the earliest deadline (a clock set back, as tests do, could leave it on a
// later one).
void arm() {
  Book& b = book();
  SwitchModel& m = model();
  if (m.scheduled().empty()) return b.timer.reset();
  const uint32_t now = Mux::milliseconds();
  uint32_t first = m.find(m.scheduled().front())->due;
  for (int channel : m.scheduled()) {
    const uint32_t due = m.find(channel)->due;
    if (static_cast<int32_t>(due - first) < 0) first = due;
  }
  const int32_t left = std::max<int32_t>(static_cast<int32_t>(first - now), 0);
  const TimerEvent* armed = b.timer.get();
  if (!armed || static_cast<int32_t>(armed->due - first) > 0) b.timer.set(static_cast<unsigned>(left), &expire);
}

// The descriptor kept for channel goes once no route into or out of the channel stands or is
// still wanted.
void give_back(int channel) {
  Book& b = book();
  const auto hold = b.holds.find(channel);
  if (hold == b.holds.end() || hold->second->routed()) return;
  b.holds.erase(hold);
}

// The board took a kept channel back: its graces end now and the descriptor goes. The board may
// hand the number out again at once; while a takedown of it is owed, for_new_owner() keeps it
// from the owner it goes to.
void taken_back(int channel) {
  SwitchRoutes::claimed(channel);
  book().holds.erase(channel);
}

// Carries out the state that follows an output's deadline, now: the idle byte a live user keeps
// there, else what was scheduled.
void take_down(int output) {
  SwitchModel::Output* o = model().find(output);
  if (!o || o->then.kind == State::none) return;
  const State kept = SwitchUsers::wished(output);
  const State then = kept.kind == State::constant ? kept : o->then;
  const int released = o->graceOf;
  if (then.kind == State::constant)
    mux().Write(output, static_cast<unsigned char>(then.value));
  else
    mux().Disable(output);
  if (released >= 0) give_back(released);
}

// Takes down every scheduled output that pick accepts.
template <class Pick>
void take_down_all(Pick pick) {
  SwitchModel& m = model();
  std::vector<int> picked;
  for (int channel : m.scheduled())
    if (pick(*m.find(channel))) picked.push_back(channel);
  for (int channel : picked) take_down(channel);
  arm();
}

void expire() {
  SwitchRoutes::notice_hangups();
  const uint32_t now = Mux::milliseconds();
  take_down_all([now](const SwitchModel::Output& o) { return due_now(o.due, now); });
}

}  // namespace

void SwitchRoutes::made(int source, int output) {
  if (source < 0 || output < 0) return;
  SwitchModel& m = model();
  if (m.at(output)->want != State::Routed(source)) {
    m.want(output, State::Routed(source));
    m.confirm(output, State::Routed(source));
  }
  // A released channel patched again has a new owner: what its old routes still carry goes
  // before that owner sends anything.
  claimed(source);
}

void SwitchRoutes::release(int source, int held, bool grace_wanted, std::vector<int> with) {
  Book& b = book();
  if (source < 0) {
    if (held >= 0) board::close(held);
    return;
  }
  SwitchModel& m = model();
  const uint32_t now = Mux::milliseconds();
  // Nothing that reaches the released source's input is wanted by anyone any more, whatever
  // grace it was in: a later owner of the channel must not hear it.
  SwitchUsers::released(source);
  if (const SwitchModel::Output* in = m.find(source); in && in->want.kind == State::routed) mux().Disable(source);
  const bool grace = grace_wanted && (held >= 0 || held == kHeldElsewhere);
  std::vector<int> fed;
  m.each([&](int output, const SwitchModel::Output& o) {
    if (output != source && o.want.feeds_from(source)) fed.push_back(output);
  });
  for (int output : fed) {
    // Another live user's route goes back on at once: what it sends counts for more than the
    // last frames of a channel that left.
    const State wished = SwitchUsers::wished(output);
    if (wished.kind == State::routed) {
      SwitchUsers::apply(output);
    } else if (grace) {
      // Unless the output was disconnected during an earlier grace of this channel. (The idle
      // byte of a user still live at the end of the grace is taken then: take_down.)
      const SwitchModel::Output* o = m.find(output);
      const State then = o->then.kind == State::constant ? o->then : State::Disabled();
      m.schedule(output, then, now + kGraceMs, source);
    } else if (wished.kind == State::constant) {
      SwitchUsers::apply(output);
    } else {
      mux().Disable(output);
    }
  }
  if (held >= 0) {
    // A channel kept already needs no second descriptor.
    if (b.holds.count(source))
      board::close(held);
    else
      b.holds.emplace(source, std::make_unique<Hold>(source, held, std::move(with)));
  }
  arm();
  give_back(source);
}

bool SwitchRoutes::free_for_new_owner(int channel) { return !SwitchModel::route_uses(channel); }

bool SwitchRoutes::claim_named(int channel) {
  SwitchModel* m = SwitchModel::current();
  if (!m || channel < 0) return true;
  std::vector<int> graces;
  for (int output : m->scheduled())
    if (output == channel || m->find(output)->want.feeds_from(channel)) graces.push_back(output);
  for (int output : graces) take_down(output);
  if (!graces.empty()) arm();
  bool old = false;
  m->each([&](int output, const SwitchModel::Output& o) {
    if (old || (output != channel && !o.want.feeds_from(channel) && !o.confirmed.feeds_from(channel))) return;
    // A route wanted by its owner, made or still to be made, is a live one.
    old = o.then.kind != State::none || (o.confirmed.kind == State::routed && o.want != o.confirmed) ||
          (o.want.kind != State::none && o.want.kind != State::routed && o.want != o.confirmed);
  });
  return !old;
}

void SwitchRoutes::keep_aside(int channel, int held) {
  if (held < 0) return;
  if (channel < 0) {
    board::close(held);
    return;
  }
  std::cerr << "switch: channel " << channel << " is still routed, kept from a new owner" << std::endl;
  // A descriptor kept for the number before was hung up: the board gave the channel out again.
  book().holds.erase(channel);
  book().holds.emplace(channel, std::make_unique<Hold>(channel, held));
  give_back(channel);
}

bool SwitchRoutes::give_up(int channel, int held) {
  if (channel < 0) {
    if (held >= 0) board::close(held);
    return true;
  }
  // The channel's output goes disabled, whatever fed it (or nothing did).
  mux().Disable(channel);
  release(channel, held, false);
  return !model().uses(channel);
}

void SwitchRoutes::unwanted(int output) {
  const SwitchModel::Output* o = model().find(output);
  // A route another live user wants there is owed already.
  if (o && o->want.kind == State::routed && SwitchUsers::wished(output).kind != State::routed)
    mux().Want(output, State::Constant(board::hal::kIdleByte));
}

void SwitchRoutes::claimed(int source) {
  if (source < 0 || model().scheduled().empty()) return;
  take_down_all([source](const SwitchModel::Output& o) { return o.graceOf == source; });
}

std::size_t SwitchRoutes::releasing() { return model().scheduled().size() + model().owed_takedowns(); }

std::size_t SwitchRoutes::holding() { return book().holds.size(); }

bool SwitchRoutes::idle_after_grace(int output) {
  SwitchModel::Output* o = model().find(output);
  if (!o || o->then.kind == State::none) return false;
  o->then = State::Constant(board::hal::kIdleByte);
  return true;
}

bool SwitchRoutes::end_grace() {
  const std::size_t held = holding();
  if (held == 0) return false;
  take_down_all([](const SwitchModel::Output&) { return true; });
  settle();
  return holding() < held;
}

void SwitchRoutes::settle() {
  if (book().holds.empty()) return;
  std::vector<int> channels;
  for (const auto& [channel, hold] : book().holds) channels.push_back(channel);
  for (int channel : channels) give_back(channel);
}

// The loop notices a hang-up on its next pass; a request for a channel made before that pass
// must not get the number while its old routes stand.
void SwitchRoutes::notice_hangups() {
  std::vector<int> gone;
  for (const auto& [channel, hold] : book().holds) {
    pollfd p{hold->fd(), 0, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) gone.push_back(channel);
  }
  for (int channel : gone) taken_back(channel);
}

int SwitchRoutes::allocate(int fd, board::mcc::Allocate& block) {
  notice_hangups();
  int r = board::ioctl(fd, board::mcc::MCC_ALLOCATE, &block);
  if (r < 0 && errno == ENOSPC && end_grace()) r = board::ioctl(fd, board::mcc::MCC_ALLOCATE, &block);
  // The number may be one whose old routes still wait out a grace: they go before the new
  // owner sends anything. (Only asked when some grace stands: each request is a system call.)
  if (r >= 0 && !model().scheduled().empty()) {
    const int error = errno;
    const int channel = board::ioctl(fd, board::mcc::MCC_TIMESLOT, nullptr);
    if (channel >= 0) claimed(channel);
    errno = error;
  }
  return r;
}

Fd SwitchRoutes::controller_channel(int flags, board::mcc::Allocate& block, int& channel, Step& failed) {
  failed = Step::allocate;  // unless a step below says otherwise: every channel was still routed
  return for_new_owner(
      [&](int& number) {
        Fd fd(board::open(board::mcc::kPath, flags));
        Step step = Step::open;
        if (fd) {
          step = Step::allocate;
          if (allocate(fd.get(), block) >= 0) {
            step = Step::timeslot;
            number = board::ioctl_value(fd.get(), board::mcc::MCC_TIMESLOT, 0);
            if (number >= 0) return fd;
          }
        }
        failed = step;
        return Abandoned(fd);
      },
      channel);
}
