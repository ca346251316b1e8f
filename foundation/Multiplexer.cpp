#include "foundation/Multiplexer.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "foundation/Dpc.h"
#include "foundation/Mux.h"
#include "foundation/Paths.h"

constinit Multiplexer multiplexer;

namespace {
// Beyond this wait to the first timer the clock is taken to have jumped.
constexpr uint32_t kMaxTimerWait = 7200000;
constexpr int kWatchdogMaxWait = 1000;
}  // namespace

// Objects destroyed after the loop at exit (static timers, DPCs, events) still unlink
// themselves: the emptied containers stay harmless to them.
Multiplexer::~Multiplexer() {
  std::vector<pollfd>().swap(poll_array_);
  std::vector<EventHandler*>().swap(poll_handlers_);
  std::vector<Dpc*>().swap(dpcs_);
  std::vector<Dpc*>().swap(dpc_queue_);
  std::vector<TimerPoolPlugin*>().swap(plugins_);
}

// ---- descriptor handlers ----

F_dual_list<EventHandler>* Multiplexer::list_of(const EventHandler* h) const {
  auto* l = h->mux_list_;
  if (l == &pending_ || l == &served_ || l == &active_)
    return const_cast<F_dual_list<EventHandler>*>(l);
  return nullptr;
}

void Multiplexer::attach(EventHandler* h) {
  if (list_of(h)) {
    std::cerr << "duplicate multiplexer attach \"" << h->event_name() << "\" ignored." << std::endl;
    return;
  }
  pending_.insert_to_tail(h);
  h->mux_list_ = &pending_;
}

void Multiplexer::detach(EventHandler* h) {
  F_dual_list<EventHandler>* l = list_of(h);
  if (!l) {
    std::cerr << "indvalid Multiplexer::detach " << h->event_name() << std::endl;
    return;
  }
  l->remove(h);
  h->mux_list_ = nullptr;
  // A handler leaving after the poll array was filled must not receive another's revents.
  if (h->poll_slot_ >= 0 && static_cast<std::size_t>(h->poll_slot_) < poll_handlers_.size() &&
      poll_handlers_[h->poll_slot_] == h)
    poll_handlers_[h->poll_slot_] = nullptr;
  h->poll_slot_ = -1;
}

bool Multiplexer::event_exists(EventHandler* h) const { return list_of(h) != nullptr; }

// ---- timers ----

// Sorted insert behind every entry not due after e, so equal due times keep arming order.
// New entries are mostly the latest and are found from the tail; an entry due before the
// middle of the list (a short delay among long ones) is placed from the head instead, and
// one with a known earlier neighbour (from) by walking forward from it. All three find the
// same place in the sorted list.
void Multiplexer::insert_timer(TimerEvent* e, TimerEvent* from) {
  e->armed_ = true;
  TimerEvent* head = timers_.first();
  if (!head) {
    timers_.insert_to_tail(e);
    return;
  }
  TimerEvent* tail = timers_.last();
  const int32_t to_tail = tail->compare(e);
  if (to_tail <= 0) {
    timers_.insert_after(tail, e);
    return;
  }
  if (!from || from->compare(e) > 0) {
    if (e->compare(head) >= to_tail) {
      timers_.insert_to_tail_by_grown(e);
      return;
    }
    if (head->compare(e) > 0) {
      timers_.insert_to_head(e);
      return;
    }
    from = head;
  }
  // from is not due after e and the tail is: the place lies between them.
  TimerEvent* p = from;
  while (p->next->compare(e) <= 0) p = p->next;
  timers_.insert_after(p, e);
}

void Multiplexer::unlink_timer(TimerEvent* e) {
  if (e->hint_slot_ >= 0) {
    // The entry before a leaving hint is due no later, so it serves as the hint instead.
    TimerHint& hint = timer_hints_[e->hint_slot_];
    TimerEvent* before = e->prev;
    if (before && before->hint_slot_ < 0) {
      hint.ev = before;
      before->hint_slot_ = e->hint_slot_;
    } else {
      hint.ev = nullptr;
    }
    e->hint_slot_ = -1;
  }
  timers_.remove(e);
  e->armed_ = false;
}

void Multiplexer::set(TimerEvent* e) {
  if (e->armed_) unlink_timer(e);
  insert_timer(e, nullptr);
}

void Multiplexer::set(TimerEvent* e, unsigned ms) {
  if (e->armed_) unlink_timer(e);
  // A daemon arms few distinct delays: a small table searched whole, replaced in turn.
  int slot = -1;
  for (int i = 0; i < kTimerHints; ++i) {
    if (timer_hints_[i].ms == ms && timer_hints_[i].ev) {
      slot = i;
      break;
    }
  }
  if (slot < 0) {
    slot = timer_hint_victim_;
    timer_hint_victim_ = (timer_hint_victim_ + 1) % kTimerHints;
  }
  TimerHint& hint = timer_hints_[slot];
  insert_timer(e, hint.ms == ms ? hint.ev : nullptr);
  if (hint.ev) hint.ev->hint_slot_ = -1;
  hint.ms = ms;
  hint.ev = e;
  e->hint_slot_ = static_cast<int8_t>(slot);
}

void Multiplexer::reset(TimerEvent* e) {
  if (e->armed_) unlink_timer(e);
}

int Multiplexer::timers_schedule() {
  uint32_t now = Mux::milliseconds();
  while (TimerEvent* head = timers_.first()) {
    if (static_cast<int32_t>(now - head->due) < 0) break;
    timer_measure_.begin();
    unlink_timer(head);
    head->fire();
    timer_measure_.end();
  }
  execute_dpc();

  uint32_t first = timers_.empty() ? now : timers_.first()->due;
  uint32_t wait = first - now;
  if (wait <= kMaxTimerWait) return static_cast<int>(wait);

  std::cerr << "******** RUNTIME ERROR CONDITION *************"
            << "Multiplexer::timers_schedule() invalid wait time detected!" << std::endl
            << "now = " << now << std::endl
            << "first = " << first << std::endl
            << "count = " << timers_.count() << std::endl;
  for (TimerEvent* e = timers_.first(); e; e = e->next) e->due = now + 1000;
  return 1000;
}

// ---- deferred calls ----

void Multiplexer::attach(Dpc* d) {
  auto it = std::lower_bound(dpcs_.begin(), dpcs_.end(), d, std::less<Dpc*>());
  if (it != dpcs_.end() && *it == d) return;
  dpcs_.insert(it, d);
}

void Multiplexer::dettach(Dpc* d) {
  std::erase(dpcs_, d);
  for (std::size_t i = dpc_queue_head_; i < dpc_queue_.size(); ++i)
    if (dpc_queue_[i] == d) dpc_queue_[i] = nullptr;
}

void Multiplexer::execute_dpc() {
  if (dpcs_.empty()) return;
  dpc_queue_.assign(dpcs_.begin(), dpcs_.end());
  dpc_queue_head_ = 0;
  // Calls run back to back: the clock read that ends one call's measure begins the next one's.
  uint32_t t = Mux::microseconds();
  while (dpc_queue_head_ < dpc_queue_.size()) {
    Dpc* d = dpc_queue_[dpc_queue_head_++];
    if (!d) continue;  // deactivated by an earlier call of this run
    dpc_measure_.begin_at(t);
    if (DpcHandler* h = d->handler()) h->Invoke();
    t = Mux::microseconds();
    dpc_measure_.end_at(t);
  }
  dpc_queue_.clear();
  dpc_queue_head_ = 0;
}

// ---- timer plug-ins ----

namespace {
// Owns the plug-in list while the plug-ins are asked, so that one may unhook itself or
// another during its call.
class PollGuard : public Multiplexer::TimerPollNotify {
 public:
  explicit PollGuard(std::vector<TimerPoolPlugin*>& mux_list) : mux_list_(mux_list) {
    list_.swap(mux_list);
  }
  void removeTimerPoolPlugin(TimerPoolPlugin* p) override {
    std::erase(list_, p);
    std::erase(mux_list_, p);
  }
  TimerPoolPlugin* next() {
    if (list_.empty()) return nullptr;
    TimerPoolPlugin* p = list_.front();
    list_.erase(list_.begin());
    mux_list_.push_back(p);
    return p;
  }

 private:
  std::vector<TimerPoolPlugin*> list_;
  std::vector<TimerPoolPlugin*>& mux_list_;
};
}  // namespace

void Multiplexer::hook(TimerPoolPlugin* p) { plugins_.push_back(p); }

void Multiplexer::unhook(TimerPoolPlugin* p) {
  if (poll_notify_)
    poll_notify_->removeTimerPoolPlugin(p);
  else
    std::erase(plugins_, p);
}

int Multiplexer::timerPoll_schedule() {
  int result = INT_MAX;
  if (plugins_.empty()) return result;
  PollGuard guard(plugins_);
  poll_notify_ = &guard;
  while (TimerPoolPlugin* p = guard.next()) {
    int w = p->timerWait();
    if (w >= 0 && w < result) result = w;
  }
  poll_notify_ = nullptr;
  return result;
}

void TimerPoolPlugin::timerHook() {
  if (hooked) return;
  multiplexer.hook(this);
  hooked = true;
}

void TimerPoolPlugin::timerUnhook() {
  if (!hooked) return;
  multiplexer.unhook(this);
  hooked = false;
}

// ---- watchdog ----

void Multiplexer::open_watchdog() {
  int fd = ::open(Paths::rooted("/dev/misc/gw-wd").c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    std::cerr << "Mux: fail to open watchdog: " << std::strerror(errno) << std::endl;
    return;
  }
  if (::write(fd, "START", 5) != 5) {
    std::cerr << "Mux: fail to activate watchdog: " << std::strerror(errno) << std::flush;
    ::close(fd);
    return;
  }
  watchdog_ = fd;
}

void Multiplexer::close_watchdog() {
  if (watchdog_ < 0) return;
  if (::write(watchdog_, "STOP", 4) != 4)
    std::cerr << "Mux: stop watchdog failed: " << std::strerror(errno) << std::flush;
  ::close(watchdog_);
  watchdog_ = -1;
}

void Multiplexer::resetWD() {
  if (watchdog_ < 0) return;
  if (::write(watchdog_, "PING", 4) != 4)
    std::cerr << "Mux: ping watchdog failed: " << std::strerror(errno) << std::endl;
}

// ---- the loop ----

void Multiplexer::run(bool watchdog, bool live_time) {
  terminated_ = false;
  last_feed_ = 0;
  if (watchdog) open_watchdog();
  if (!live_time) Mux::mux_settimeofday();
  do {
    pass(live_time, -1);
  } while (!terminated_);
  std::clog << "Mux: terminating..." << std::endl;
  close_watchdog();
}

bool Multiplexer::run_once(int max_wait_ms) {
  terminated_ = false;
  return pass(true, max_wait_ms < 0 ? 0 : max_wait_ms);
}

bool Multiplexer::pass(bool live_time, int cap) {
  int t1 = timers_schedule();
  if (t1 < 1) t1 = INT_MAX;
  int t2 = timerPoll_schedule();
  if (t2 < 1) t2 = INT_MAX;
  int timeout = std::min(t1, t2);
  if (timeout == INT_MAX) timeout = -1;

  while (EventHandler* h = pending_.remove_from_head()) {
    active_.insert_to_tail(h);
    h->mux_list_ = &active_;
  }

  const std::size_t n = active_.count();
  if (poll_array_.size() != n) {
    poll_array_.resize(n);
    poll_handlers_.resize(n);
  }
  {
    std::size_t i = 0;
    for (EventHandler* h = active_.first(); h; h = h->next, ++i) {
      poll_array_[i] = pollfd{-1, 0, 0};
      poll_handlers_[i] = h;
      h->poll_slot_ = static_cast<int>(i);
      h->shedule_event(poll_array_[i]);
    }
  }

  bool idle = timeout == -1 && n == 0;
  if (idle && cap < 0) {
    std::cerr << "multiplexer: system hang detected!!!" << std::endl;
    std::abort();
  }
  if (watchdog_ >= 0 && static_cast<unsigned>(timeout) > static_cast<unsigned>(kWatchdogMaxWait))
    timeout = kWatchdogMaxWait;
  if (cap >= 0 && static_cast<unsigned>(timeout) > static_cast<unsigned>(cap)) timeout = cap;

  execute_dpc();
  if (idle) return false;
  // A terminate() that came before poll() (from a timer, a DPC, or a signal that arrived
  // outside poll) must not leave the loop waiting for an event that may never come.
  if (terminated_) timeout = 0;

  int r = ::poll(poll_array_.data(), poll_array_.size(), timeout);
  int poll_errno = errno;
  if (!live_time) Mux::mux_settimeofday();

  // One clock read serves the watchdog and the measure of the first handler call.
  const uint64_t now_us = Mux::time_us();
  const uint32_t now = static_cast<uint32_t>(now_us / 1000u);
  uint32_t t = static_cast<uint32_t>(now_us);
  if (last_feed_ == 0 || now < last_feed_ || now - last_feed_ > 999) {
    last_feed_ = now;
    resetWD();
    t = Mux::microseconds();
  }

  if (r == 0) return true;
  if (r < 0) {
    if (poll_errno == EINTR) return true;
    std::cerr << "multiplexer poll failed: " << std::strerror(poll_errno) << std::endl;
    std::abort();
  }

  for (std::size_t i = 0; i < poll_array_.size(); ++i) {
    if (EventHandler* h = poll_handlers_[i]) {
      h->revents = poll_array_[i].revents;
      h->poll_slot_ = -1;
    }
  }
  // Handlers are served back to back: the clock read that ends one call's measure begins the
  // next one's, one read per call instead of two. A handler whose descriptor reported nothing
  // returns at once: the clock is not read after it (its call counts, with no duration), and
  // the little time it took falls to the next call measured.
  while (!terminated_) {
    EventHandler* h = active_.remove_from_head();
    if (!h) break;
    served_.insert_to_tail(h);
    h->mux_list_ = &served_;
    event_measure_.begin_at(t);
    const bool ready = h->revents != 0;
    h->svc_event();
    if (ready) t = Mux::microseconds();
    event_measure_.end_at(t);
  }
  // Handlers left unserved by a terminate() keep their place behind the served ones, so a
  // later run still polls every handler in attach order.
  while (EventHandler* h = active_.remove_from_head()) {
    served_.insert_to_tail(h);
    h->mux_list_ = &served_;
  }
  served_.merge(active_);
  for (EventHandler* h = active_.first(); h; h = h->next) h->mux_list_ = &active_;
  return true;
}
