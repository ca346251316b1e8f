#pragma once
// The single-threaded event loop: each pass fires due timers, runs the active deferred calls,
// polls every attached descriptor handler, feeds the hardware watchdog and dispatches the
// handlers in attachment order. The one global instance is `multiplexer`.
#include <poll.h>

#include <cstdint>
#include <iosfwd>
#include <vector>

#include "foundation/Event.h"
#include "foundation/F_dual_list.h"
#include "foundation/Measure.h"
#include "foundation/TimerEvent.h"

class Dpc;
class TimerPoolPlugin;

class Multiplexer {
 public:
  // Told when a plug-in is unhooked while the plug-in step runs.
  class TimerPollNotify {
   public:
    virtual ~TimerPollNotify() = default;
    virtual void removeTimerPoolPlugin(TimerPoolPlugin* p) = 0;
  };

  constexpr Multiplexer() = default;
  Multiplexer(const Multiplexer&) = delete;
  Multiplexer& operator=(const Multiplexer&) = delete;
  // Frees the containers only; nothing is detached.
  ~Multiplexer();

  // Runs passes until terminate(). watchdog: open and feed the hardware watchdog;
  // live_time false: the cached clocks (loop clock and time of day) are refreshed once per pass
  // (after poll).
  void run(bool watchdog, bool live_time);
  // Test entry: one pass as run() makes it (terminated cleared first, as run does), with the
  // poll wait capped at max_wait_ms (0: do not block) and live time; false, without polling,
  // when there is nothing to wait for (where run() would abort).
  bool run_once(int max_wait_ms);
  // Ends run() after the current pass; safe from a signal handler.
  void terminate() { terminated_ = true; }
  bool is_terminated() const { return terminated_; }

  // Writes "PING" to the watchdog when it is open.
  void resetWD();

  void attach(EventHandler* h);
  void detach(EventHandler* h);
  bool event_exists(EventHandler* h) const;

  // Arms (unlinking first when armed) and disarms a timer entry.
  void set(TimerEvent* e);
  void reset(TimerEvent* e);
  // set() for an entry just armed ms from now (TimerEvent::schedule): the same list order,
  // found from the entry last armed with the same delay.
  void set(TimerEvent* e, unsigned ms);

  void attach(Dpc* d);
  void dettach(Dpc* d);

  void hook(TimerPoolPlugin* p);
  void unhook(TimerPoolPlugin* p);

  // The steps of a pass. timers_schedule returns the wait to the first timer (0: none).
  int timers_schedule();
  int timerPoll_schedule();
  void execute_dpc();

  // The loop's status text (statistics, profiling points, table of named events).
  void dump(std::ostream& os) const;

  unsigned timer_count() const { return timers_.count(); }
  unsigned handler_count() const { return pending_.count() + served_.count() + active_.count(); }
  const F_sorted_list<TimerEvent>& timers() const { return timers_; }
  int watchdog_fd() const { return watchdog_; }

 private:
  // One pass; cap < 0: no cap (run), else the poll wait cap of run_once.
  bool pass(bool live_time, int cap);
  void open_watchdog();
  void close_watchdog();
  F_dual_list<EventHandler>* list_of(const EventHandler* h) const;
  void insert_timer(TimerEvent* e, TimerEvent* from);
  void unlink_timer(TimerEvent* e);

  F_sorted_list<TimerEvent> timers_;
  F_dual_list<EventHandler> pending_;  // attached since the last pass began
  F_dual_list<EventHandler> served_;   // served in the current pass
  F_dual_list<EventHandler> active_;   // polled in the current pass, in attach order
  std::vector<pollfd> poll_array_;
  std::vector<EventHandler*> poll_handlers_;  // the handler of each poll entry (null: gone)
  std::vector<Dpc*> dpcs_;                    // active DPCs, ascending by address
  std::vector<Dpc*> dpc_queue_;               // DPCs still to run in execute_dpc
  std::size_t dpc_queue_head_ = 0;
  volatile bool terminated_ = false;
  Measure dpc_measure_;
  Measure event_measure_;
  Measure timer_measure_;
  // Per delay, the entry armed last with it: a later arming with that delay is due no
  // earlier, so its place is found by a short walk forward from there.
  struct TimerHint {
    unsigned ms = 0;
    TimerEvent* ev = nullptr;
  };
  static constexpr int kTimerHints = 16;
  TimerHint timer_hints_[kTimerHints] = {};
  int timer_hint_victim_ = 0;
  std::vector<TimerPoolPlugin*> plugins_;
  TimerPollNotify* poll_notify_ = nullptr;
  int watchdog_ = -1;
  uint32_t last_feed_ = 0;  // ms of the last watchdog feed, 0 before the first
};

extern Multiplexer multiplexer;

// A hook that may shorten the loop's poll wait.
class TimerPoolPlugin {
 public:
  bool hooked = false;

  virtual ~TimerPoolPlugin() { timerUnhook(); }
  // The plug-in's wait in milliseconds; negative: no wait.
  virtual int timerWait() = 0;

  void timerHook();
  void timerUnhook();
};
