// The event loop: its clocks, timers, deferred calls, descriptor handlers and watchdog, driven
// pass by pass on the fake clock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Dpc.h"
#include "foundation/Event.h"
#include "foundation/Fd.h"
#include "foundation/Measure.h"
#include "foundation/Multiplexer.h"
#include "foundation/Mux.h"
#include "foundation/Profile.h"
#include "foundation/TimerEvent.h"
#include "tests/support/TempDir.h"
#include "tests/support/UtcTime.h"

namespace {

// A millisecond count well away from 0 and from the 32-bit wrap.
constexpr uint64_t kTestEpochUsec = 1'700'000'000'000'000ull;

class LoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Mux::test_clock_set(kTestEpochUsec);
    ASSERT_EQ(multiplexer.handler_count(), 0u);
    ASSERT_EQ(multiplexer.timer_count(), 0u);
  }
  void TearDown() override {
    Mux::test_clock_clear();
    Mux::mux_cleartimeofday();
  }
};

struct Pipe {
  int rd = -1, wr = -1;
  Pipe() {
    int p[2];
    if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) == 0) rd = p[0], wr = p[1];
  }
  ~Pipe() { ::close(rd), ::close(wr); }
  void fill() { (void)!::write(wr, "x", 1); }
};

class TestHandler : public EventHandler {
 public:
  TestHandler(std::string name, int fd, std::vector<std::string>* log) : name_(std::move(name)), fd_(fd), log_(log) {}
  ~TestHandler() override {
    if (multiplexer.event_exists(this)) multiplexer.detach(this);
  }
  void shedule_event(pollfd& p) override { p.fd = fd_, p.events = POLLIN; }
  void svc_event(short ev) override {
    served_revents.push_back(ev);
    if (log_) log_->push_back(name_);
    if (on_serve) on_serve();
  }
  std::string event_name() const override { return name_; }

  std::function<void()> on_serve;
  std::vector<short> served_revents;

 private:
  std::string name_;
  int fd_;
  std::vector<std::string>* log_;
};

TEST_F(LoopTest, ClocksWrapAtThirtyTwoBitsAndTheCacheYieldsToTheTestClock) {
  const uint64_t usec = (uint64_t{1} << 32) * 1000 + 123'456'789;
  Mux::test_clock_set(usec);
  EXPECT_EQ(Mux::milliseconds(), 123'456u);
  EXPECT_EQ(Mux::microseconds(), static_cast<uint32_t>(usec));
  EXPECT_EQ(Mux::seconds(), static_cast<uint32_t>(usec / 1'000'000));
  Mux::timeval tv;
  EXPECT_EQ(Mux::gettimeval(tv), 0);
  EXPECT_EQ(std::make_pair(tv.seconds, tv.microseconds),
            std::make_pair(static_cast<int>(usec / 1'000'000), static_cast<int>(usec % 1'000'000)));
  Mux::test_clock_clear();

  // The cache freezes time within a pass.
  Mux::mux_settimeofday();
  struct ::timeval a, b;
  Mux::mux_gettimeofday(&a), Mux::mux_gettimeofday(&b);
  EXPECT_EQ(std::make_pair(a.tv_sec, a.tv_usec), std::make_pair(Mux::g_tv_time.tv_sec, b.tv_usec));
}

// The loop's clock is the monotonic clock; dates come from the time of day. The test clock
// steps the time of day alone, and the cache keeps one instant of both.
TEST_F(LoopTest, TheLoopClockIsMonotonicAndTheTimeOfDayStepsApart) {
  Mux::test_clock_step_time_of_day(-20'000'000);
  EXPECT_EQ(Mux::milliseconds(), static_cast<uint32_t>(kTestEpochUsec / 1000));
  EXPECT_EQ(Mux::microseconds(), static_cast<uint32_t>(kTestEpochUsec));
  EXPECT_EQ(Mux::time_us(), kTestEpochUsec);
  EXPECT_EQ(Mux::seconds(), static_cast<uint32_t>(kTestEpochUsec / 1'000'000 - 20));
  Mux::timeval tv;
  Mux::gettimeval(tv);
  EXPECT_EQ(tv.seconds, static_cast<int>(kTestEpochUsec / 1'000'000 - 20));
  Mux::test_clock_advance_ms(1500);
  EXPECT_EQ(Mux::time_us(), kTestEpochUsec + 1'500'000);
  EXPECT_EQ(Mux::seconds(), static_cast<uint32_t>(kTestEpochUsec / 1'000'000 - 20 + 1));
  Mux::test_clock_clear();

  auto monotonic_us = [] {
    struct ::timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1'000'000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
  };
  const uint64_t before = monotonic_us();
  const uint64_t live = Mux::time_us();
  const uint32_t ms = Mux::milliseconds(), us = Mux::microseconds();
  const uint64_t after = monotonic_us();
  EXPECT_LE(before, live);
  EXPECT_LE(live, after);
  EXPECT_LE(static_cast<uint32_t>(ms - static_cast<uint32_t>(before / 1000)), static_cast<uint32_t>(after / 1000 - before / 1000));
  EXPECT_LE(static_cast<uint32_t>(us - static_cast<uint32_t>(before)), static_cast<uint32_t>(after - before));

  Mux::mux_settimeofday();
  const uint64_t cached = Mux::time_us();
  struct ::timeval day;
  ::gettimeofday(&day, nullptr);
  EXPECT_EQ(Mux::time_us(), cached);
  EXPECT_EQ(Mux::milliseconds(), static_cast<uint32_t>(cached / 1000));
  EXPECT_LE(Mux::seconds(), static_cast<uint32_t>(day.tv_sec));
  EXPECT_GE(Mux::seconds() + 1, static_cast<uint32_t>(day.tv_sec));
  Mux::mux_cleartimeofday();
  while (monotonic_us() <= cached) {
  }
  EXPECT_GT(Mux::time_us(), cached);
  const auto now = static_cast<uint32_t>(::time(nullptr));
  EXPECT_LE(Mux::seconds() - now + 1, 2u);  // live again: within a second of the time of day
}

TEST_F(LoopTest, TimeValueText) {
  vxtest::UtcTimeZone utc;
  EXPECT_EQ(Mux::timevaltostring(Mux::timeval{86400 + 3661, 42}), "1970-01-02 01:01:01.000042");
  // Past 2038 the time of day still reads as itself, in its 32-bit seconds too.
  Mux::test_clock_set(vxtest::utc_usec(2040, 1, 1, 0, 0, 7, 5));
  Mux::timeval now;
  Mux::gettimeval(now);
  EXPECT_EQ(Mux::timevaltostring(now), "2040-01-01 00:00:07.000005");
  EXPECT_EQ(Mux::seconds(), 2208988807u);
}

// Spans of 5, 2 and 9 us, the microsecond clock wrapping inside the first: min, max, last and
// count, for a Measure and for a profile point, which dumps newest first.
TEST_F(LoopTest, MeasureAndProfileKeepMinMaxLastAndCountAcrossTheWrap) {
  Measure m;
  {
    Profile::Point p("Tpkt_protocol::message");
    uint64_t t = (uint64_t{1} << 32) - 3;
    for (uint32_t d : {5u, 2u, 9u}) {
      Mux::test_clock_set(t);
      m.begin();
      p.begin();
      t += d;
      Mux::test_clock_set(t);
      EXPECT_EQ(m.end(), d);
      p.end();
    }
    std::ostringstream os;
    os << m << '\n';
    Profile::dump(os);
    EXPECT_TRUE(os.str().starts_with(
        "min=2 max=9 avg=9 counter=3\n[Tpkt_protocol::message]: min=2 max=9 avg=9 counter=3\n"))
        << os.str();
  }
}

using Log = std::vector<std::string>;

class Tagged : public TimerEvent {
 public:
  Tagged(Log* log, std::string tag) : log_(log), tag_(std::move(tag)) {}
  void fire() override { log_->push_back(tag_); }

 private:
  Log* log_;
  std::string tag_;
};

void run_at(uint32_t advance_ms) {
  Mux::test_clock_advance_ms(advance_ms);
  multiplexer.timers_schedule();
}

TEST_F(LoopTest, WaitReturnedAndEntriesUnlinkedByResetOrDestruction) {
  Log log;
  Tagged a(&log, "a"), b(&log, "b");
  auto gone = std::make_unique<Tagged>(&log, "gone");
  a.schedule(100), b.schedule(50), gone->schedule(60);
  a.reset(), a.reset(), gone.reset();  // the second reset: not armed, nothing
  EXPECT_EQ(multiplexer.timer_count(), 1u);
  EXPECT_EQ(multiplexer.timers_schedule(), 50);
  run_at(49);
  EXPECT_TRUE(log.empty());
  a.schedule(1);
  EXPECT_EQ(multiplexer.timers_schedule(), 1);
  run_at(1);
  EXPECT_EQ(log, (Log{"b", "a"}));
  EXPECT_FALSE(a.armed());
  EXPECT_EQ(multiplexer.timers_schedule(), 0);
}

// Entries armed over time, some re-armed and some reset, fire by due time and, for equal due
// times, in the order of their last arming.
TEST_F(LoopTest, RandomArmingFiresInDueThenArmingOrder) {
  std::mt19937 rng(7);
  const unsigned delays[] = {0, 1, 5, 17, 40, 40, 300, 1000};
  Log log;
  std::vector<std::unique_ptr<Tagged>> ev;
  struct Armed {
    unsigned due;
    int seq, id;
  };
  std::vector<Armed> model;
  int seq = 0;
  unsigned now = 0;
  auto forget = [&](int id) { std::erase_if(model, [&](const Armed& a) { return a.id == id; }); };
  auto arm = [&](int id) {
    unsigned d = delays[rng() % std::size(delays)];
    ev[id]->schedule(d);
    forget(id);
    model.push_back({now + d, seq++, id});
  };
  for (int i = 0; i < 2000; ++i) {
    ev.push_back(std::make_unique<Tagged>(&log, std::to_string(i)));
    arm(i);
    if (i % 7 == 3) arm(static_cast<int>(rng() % ev.size()));
    if (i % 11 == 5) {
      int j = static_cast<int>(rng() % ev.size());
      ev[j]->reset();
      forget(j);
    }
    if (i % 3 == 0) {
      unsigned step = rng() % 4;
      Mux::test_clock_advance_ms(step);
      now += step;
    }
  }
  std::stable_sort(model.begin(), model.end(),
                   [](const Armed& a, const Armed& b) { return a.due != b.due ? a.due < b.due : a.seq < b.seq; });
  Log expected;
  for (const Armed& a : model) expected.push_back(std::to_string(a.id));
  EXPECT_EQ(multiplexer.timer_count(), model.size());
  run_at(2000);
  EXPECT_EQ(log, expected);
}

TEST_F(LoopTest, OrderAndWaitHoldAcrossTheMillisecondWrap) {
  Mux::test_clock_set((uint64_t{1} << 32) * 1000 * 7 - 5'000);  // 5 ms before a wrap
  ASSERT_EQ(Mux::milliseconds(), 0xFFFFFFFBu);
  Log log;
  Tagged late(&log, "late"), early(&log, "early"), mid(&log, "mid");
  late.schedule(10), early.schedule(2), mid.schedule(5);  // mid is due exactly at 0
  EXPECT_EQ(mid.due, 0u);
  EXPECT_EQ(multiplexer.timers_schedule(), 2);
  run_at(2);
  EXPECT_EQ(multiplexer.timers_schedule(), 3);
  run_at(3);
  EXPECT_EQ(log, (Log{"early", "mid"}));
  run_at(5);
  EXPECT_EQ(log, (Log{"early", "mid", "late"}));
}

// A wait of two hours is normal; a longer one, or a clock that stepped back, is a clock fault
// after which every timer is due in one second.
TEST_F(LoopTest, ClockFaultMovesEveryTimerToOneSecond) {
  struct Case {
    uint32_t delay;
    int64_t step_ms;
    int wait;
  } cases[] = {{7'200'000, 0, 7'200'000}, {7'200'001, 0, 1000}, {10, -3 * 3600 * 1000, 1000}};
  for (const Case& c : cases) {
    Mux::test_clock_set(kTestEpochUsec);
    Log log;
    Tagged a(&log, "a"), b(&log, "b");
    a.schedule(c.delay), b.schedule(c.delay);
    Mux::test_clock_set(kTestEpochUsec + c.step_ms * 1000);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(multiplexer.timers_schedule(), c.wait) << c.delay;
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("count = 2\n") != std::string::npos, c.wait == 1000) << err;
    if (c.wait != 1000) continue;
    run_at(999);
    EXPECT_TRUE(log.empty());
    run_at(1);
    EXPECT_EQ(log, (Log{"a", "b"}));
  }
}

struct Owner {
  Timer timer;
  Log log;
  int rearm = 0;
  void plain() {
    log.push_back("plain");
    EXPECT_FALSE(timer.is_set());  // released before the call
    if (rearm-- > 0) timer.set(10, &Owner::plain, this);
  }
  void with_timer(Timer* t) {
    log.push_back(t == &timer ? "with_timer" : "other");
    if (rearm-- > 0) t->set(10, &Owner::with_timer, this);
  }
};

TEST_F(LoopTest, TimerRearmedFromItsCallbackOrReplacedOrDestroyed) {
  Owner o;
  o.rearm = 1;
  o.timer.set(10, &Owner::plain, &o);
  run_at(10);
  ASSERT_TRUE(o.timer.is_set());
  EXPECT_TRUE(o.timer.get()->armed());
  run_at(10);
  o.rearm = 1;
  o.timer.set(10, &Owner::with_timer, &o);
  run_at(10), run_at(10);
  EXPECT_EQ(o.log, (Log{"plain", "plain", "with_timer", "with_timer"}));
  EXPECT_EQ(multiplexer.timer_count(), 0u);

  // Setting again replaces the pending call.
  o.log.clear();
  o.timer.set(10, &Owner::plain, &o);
  o.timer.set(30, &Owner::with_timer, &o);
  EXPECT_EQ(multiplexer.timer_count(), 1u);
  run_at(10);
  EXPECT_TRUE(o.log.empty());
  run_at(20);
  EXPECT_EQ(o.log, (Log{"with_timer"}));
  {
    Owner gone;
    gone.timer.set(5, &Owner::plain, &gone);
    EXPECT_EQ(multiplexer.timer_count(), 1u);
  }
  EXPECT_EQ(multiplexer.timer_count(), 0u);
}

struct Recorder {
  Log* log;
  std::string tag;
  void note() { log->push_back(tag); }
};

TEST_F(LoopTest, PassRunsTimersThenDpcsTwiceThenHandlersInAttachOrder) {
  Log log;
  Pipe p;
  p.fill();
  TestHandler h1("h1", p.rd, &log), h2("h2", p.rd, &log), h3("h3", p.rd, &log);
  h1.mux_attach(), h2.mux_attach();
  Recorder rt{&log, "timer"}, rd{&log, "dpc"};
  Timer t;
  t.set(0, &Recorder::note, &rt);
  Dpc d;
  d.Bind(&rd, &Recorder::note), d.Activate();
  // Handlers attached or detached while serving wait for the next pass.
  h1.on_serve = [&] { h3.mux_attach(), h2.mux_detach(); };
  EXPECT_TRUE(multiplexer.run_once(0));
  EXPECT_EQ(log, (Log{"timer", "dpc", "dpc", "h1"}));
  EXPECT_FALSE(t.is_set());

  log.clear();
  h1.on_serve = nullptr;
  h2.mux_attach();
  d.Deactivate();
  EXPECT_TRUE(multiplexer.run_once(0));
  EXPECT_EQ(log, (Log{"h1", "h3", "h2"}));
}

// Every handler is served, also one without events; a deferred call that detaches a handler
// after the poll array was filled must not shift the returned events onto the wrong handler.
TEST_F(LoopTest, HandlerDetachedByDpcBeforePollLeavesOthersTheirOwnEvents) {
  Pipe ready, quiet;
  ready.fill();
  TestHandler a("a", quiet.rd, nullptr), b("b", ready.rd, nullptr), c("c", quiet.rd, nullptr);
  a.mux_attach(), b.mux_attach(), c.mux_attach();
  struct Detacher {
    TestHandler* victim;
    int calls = 0;
    void run() {
      if (++calls == 2) victim->mux_detach();  // the run just before poll()
    }
  } det{&a};
  Dpc d;
  d.Bind(&det, &Detacher::run), d.Activate();
  multiplexer.run_once(0);
  d.Deactivate();
  EXPECT_TRUE(a.served_revents.empty());
  EXPECT_EQ(b.served_revents, std::vector<short>{POLLIN});
  EXPECT_EQ(c.served_revents, std::vector<short>{0});
  EXPECT_FALSE(multiplexer.event_exists(&a));
}

// terminate() from a handler stops the pass; the handlers not yet served keep their place. From
// a timer, with only an idle descriptor left, it must not block in poll().
TEST_F(LoopTest, TerminateStopsThePassAndDoesNotWait) {
  Log log;
  Pipe p, idle_pipe;
  p.fill();
  TestHandler h1("h1", p.rd, &log), h2("h2", p.rd, &log), h3("h3", p.rd, &log);
  h1.mux_attach(), h2.mux_attach(), h3.mux_attach();
  h1.on_serve = [] { multiplexer.terminate(); };
  ::testing::internal::CaptureStderr();
  multiplexer.run(false, true);
  EXPECT_EQ(log, (Log{"h1"}));
  h1.on_serve = nullptr;
  h3.on_serve = [] { multiplexer.terminate(); };
  multiplexer.run(false, true);
  multiplexer.run(false, true);
  EXPECT_EQ(log, (Log{"h1", "h1", "h2", "h3", "h1", "h2", "h3"}));
  ::testing::internal::GetCapturedStderr();
  h1.mux_detach(), h2.mux_detach(), h3.mux_detach();

  TestHandler idle("idle", idle_pipe.rd, nullptr);
  idle.mux_attach();
  Timer t;
  t.set(0, +[] { multiplexer.terminate(); });
  ::testing::internal::CaptureStderr();
  multiplexer.run(false, true);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Mux: terminating...\n");
  EXPECT_TRUE(idle.served_revents.empty());
}

TEST_F(LoopTest, DpcsRunInAddressOrderOnceEachAndStopWhenDeactivated) {
  Log log;
  Dpc dpcs[3];
  Recorder r[3] = {{&log, "0"}, {&log, "1"}, {&log, "2"}};
  struct Killer {
    Dpc* victim;
    Log* log;
    void run() { log->push_back("k"), victim->Deactivate(); }
  } killer{&dpcs[2], &log};
  dpcs[0].Bind(&killer, &Killer::run), dpcs[1].Bind(&r[1], &Recorder::note), dpcs[2].Bind(&r[2], &Recorder::note);
  dpcs[2].Activate(), dpcs[1].Activate(), dpcs[1].Activate(), dpcs[0].Activate();
  multiplexer.execute_dpc();
  EXPECT_EQ(log, (Log{"k", "1"}));
  EXPECT_FALSE(dpcs[2].IsActive());

  Dpc unbound;
  unbound.Activate();
  dpcs[0].Deactivate();
  multiplexer.execute_dpc();
  EXPECT_EQ(log, (Log{"k", "1", "1"}));
}

TEST_F(LoopTest, TimerPluginsShortenTheWaitAndMayUnhookDuringTheCall) {
  struct Plugin : TimerPoolPlugin {
    int wait;
    Plugin* unhook_other = nullptr;
    int calls = 0;
    explicit Plugin(int w) : wait(w) {}
    int timerWait() override {
      if (++calls, unhook_other) unhook_other->timerUnhook();
      return wait;
    }
  };
  EXPECT_EQ(multiplexer.timerPoll_schedule(), INT_MAX);
  Plugin a(-1), b(300), c(200);
  a.timerHook(), b.timerHook(), b.timerHook(), c.timerHook();
  EXPECT_EQ(multiplexer.timerPoll_schedule(), 200);
  EXPECT_EQ(b.calls, 1);
  // a unhooks c before c is asked; c's answer is no longer taken.
  a.unhook_other = &c;
  EXPECT_EQ(multiplexer.timerPoll_schedule(), 300);
  EXPECT_EQ(c.calls, 1);
  EXPECT_FALSE(c.hooked);
  a.unhook_other = &a;  // unhooking itself
  EXPECT_EQ(multiplexer.timerPoll_schedule(), 300);
  EXPECT_EQ(multiplexer.timerPoll_schedule(), 300);
  EXPECT_EQ(a.calls, 3);
  Plugin now(0);  // a plug-in with work due at once
  now.timerHook();
  EXPECT_EQ(multiplexer.timerPoll_schedule(), 0);
  now.timerUnhook(), b.timerUnhook();
}

class WatchdogTest : public LoopTest {
 protected:
  void SetUp() override {
    LoopTest::SetUp();
    std::filesystem::create_directories(root_.path() + "/dev/misc");
    ::setenv("VOXRELAY_ROOT", root_.path().c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("VOXRELAY_ROOT");
    LoopTest::TearDown();
  }
  std::string device() const { return root_.path() + "/dev/misc/gw-wd"; }
  // Runs the loop, watchdog on, for `passes` passes of 400 ms of fake time each; what it logged.
  static std::string run_passes(int passes, bool check_hang = true) {
    Pipe p;
    p.fill();
    TestHandler h("busy", p.rd, nullptr);
    int n = 0;
    h.on_serve = [&] {
      Mux::test_clock_advance_ms(400);
      if (++n == passes) multiplexer.terminate();
    };
    h.mux_attach();
    ::testing::internal::CaptureStderr();  // std::clog shares the descriptor
    multiplexer.run(true, check_hang);
    return ::testing::internal::GetCapturedStderr();
  }
  vxtest::TempDir root_{"vx_wd"};
};

// A missing or refusing device is reported and the loop runs without; a working one gets
// "PING" at the first pass and after every pass that ends 1000 ms or more after the last feed.
TEST_F(WatchdogTest, DeviceFedAroundTheLoopOrFailuresReported) {
  const struct {
    const char* target;  // nullptr: no device; "": a plain file
    int passes;
    std::string logged, written;
  } cases[] = {
      {nullptr, 1, "Mux: fail to open watchdog: No such file or directory\nMux: terminating...\n", ""},
      {"/dev/full", 1, "Mux: fail to activate watchdog: No space left on deviceMux: terminating...\n", ""},
      {"", 7, "Mux: terminating...\n", "STARTPINGPINGPINGSTOP"}};
  for (const auto& c : cases) {
    std::filesystem::remove(device());
    if (c.target && *c.target) std::filesystem::create_symlink(c.target, device());
    if (c.target && !*c.target) std::ofstream(device()).close();
    EXPECT_EQ(run_passes(c.passes, c.passes == 1), c.logged);
    EXPECT_EQ(c.target && !*c.target ? vxtest::slurp(device()) : "", c.written);
    EXPECT_EQ(multiplexer.watchdog_fd(), -1);
  }
}

TEST_F(WatchdogTest, NothingToWaitForIsAHangAlsoWithTheWatchdogOpen) {
  GTEST_FLAG_SET(death_test_style, "fast");
  EXPECT_DEATH(multiplexer.run(false, true), "multiplexer: system hang detected!!!");
  std::ofstream(device()).close();
  EXPECT_DEATH(multiplexer.run(true, true), "multiplexer: system hang detected!!!");
}

bool is_open(int fd) { return ::fcntl(fd, F_GETFD) >= 0; }
bool is_cloexec(int fd) { return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0; }

TEST(FdTest, OwnsItsDescriptorAndCopiesAreCloseOnExecDuplicates) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  ::close(p[1]);
  const int raw = p[0];
  {
    Fd a(raw), b(a), c;
    const int old_b = b.get();
    EXPECT_TRUE(old_b != raw && is_cloexec(old_b) && !is_cloexec(raw));
    EXPECT_FALSE(c);
    EXPECT_EQ(c.dup(), -1);
    Fd& same = b;
    b = same;  // self-assignment changes nothing
    EXPECT_EQ(b.get(), old_b);
    c = a;
    b = Fd();
    EXPECT_FALSE(is_open(old_b));
    EXPECT_EQ(c.close(), 0);
    errno = 0;
    EXPECT_EQ(c.close(), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_FALSE(c.NonBlock());
    EXPECT_TRUE(a.NonBlock() && (::fcntl(raw, F_GETFL) & O_NONBLOCK));
    EXPECT_TRUE(BlockMode(raw) && !(::fcntl(raw, F_GETFL) & O_NONBLOCK));
    EXPECT_FALSE(SetCloexec(raw, true) || !is_cloexec(raw));
    EXPECT_FALSE(SetCloexec(raw, false) || is_cloexec(raw));
  }
  EXPECT_FALSE(is_open(raw));
  EXPECT_TRUE(SetCloexec(raw, true) && !NonBlockMode(raw));

  // A descriptor set: its members and its highest one.
  Mux::Set rd;
  rd.add(raw), rd.add(-1);
  EXPECT_TRUE(rd.has(raw) && rd.max == raw);
}

struct Reader {
  std::vector<std::pair<int, short>> calls;
  void on(int fd, short revents) { calls.emplace_back(fd, revents); }
};

TEST_F(LoopTest, WatchesItsOwnDuplicateAndCallsTheBoundMember) {
  Pipe p;
  p.fill();
  Reader r;
  Event ev;
  ev.Bind("reader", &Reader::on, &r);
  ev.Schedule(Fd(::fcntl(p.rd, F_DUPFD_CLOEXEC, 0)), POLLIN);  // the caller's copy is closed at once
  EXPECT_TRUE(ev.attached && ev.fd() != p.rd);
  multiplexer.run_once(0);
  ASSERT_EQ(r.calls.size(), 1u);
  EXPECT_EQ(r.calls[0], std::make_pair(ev.fd(), short(POLLIN)));
  EXPECT_EQ(ev.counter(), 1u);

  // A new mask on its own descriptor keeps that descriptor.
  int own = ev.fd();
  ev.Schedule(ev.own_fd(), POLLOUT);
  EXPECT_EQ(std::make_pair(ev.fd(), ev.events()), std::make_pair(own, short(POLLOUT)));
  multiplexer.run_once(0);
  EXPECT_EQ(r.calls.size(), 1u);  // poll() found nothing: no handler is served

  ev.Release();
  EXPECT_EQ(ev.fd(), -1);
  EXPECT_FALSE(ev.attached || is_open(own) || multiplexer.event_exists(&ev));

  Event idle;  // a closed descriptor leaves the event idle
  idle.Schedule(Fd(), POLLIN);
  EXPECT_FALSE(idle.attached || multiplexer.handler_count() != 0);
  auto gone = std::make_unique<Event>();
  gone->Bind("gone", &Reader::on, &r);
  gone->Schedule(Fd(::fcntl(p.rd, F_DUPFD_CLOEXEC, 0)), POLLIN);
  gone.reset();
  EXPECT_FALSE(multiplexer.run_once(0));
  EXPECT_EQ(r.calls.size(), 1u);
}

TEST_F(LoopTest, HangupIsServedAndCountedOnlyWhenInTheMask) {
  int sv[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
  Fd mine(sv[0]);
  ::close(sv[1]);
  Reader r;
  Event ev;
  ev.Bind("hup", &Reader::on, &r);
  ev.Schedule(mine, POLLPRI);
  multiplexer.run_once(0);
  EXPECT_EQ(r.calls, (std::vector<std::pair<int, short>>{{ev.fd(), POLLHUP}}));
  EXPECT_EQ(ev.counter(), 0u);
  ev.Schedule(mine, POLLHUP);
  multiplexer.run_once(0);
  EXPECT_EQ(ev.counter(), 1u);
}

// A handler may rebind, re-schedule or release its own event from inside its call.
TEST_F(LoopTest, HandlerMayReleaseOrRescheduleItsOwnEvent) {
  Pipe p;
  p.fill();
  struct Self {
    Event ev;
    int calls = 0;
    void on(int, short) {
      ++calls;
      ev.Schedule(ev.own_fd(), POLLIN);
      ev.Bind("self2", &Self::again, this);
    }
    void again(int, short) {
      ++calls;
      ev.Release();
    }
  } s;
  s.ev.Bind("self", &Self::on, &s);
  s.ev.Schedule(Fd(::fcntl(p.rd, F_DUPFD_CLOEXEC, 0)), POLLIN);
  multiplexer.run_once(0);
  EXPECT_EQ(s.calls, 1);
  EXPECT_TRUE(multiplexer.event_exists(&s.ev));
  multiplexer.run_once(0);
  EXPECT_EQ(s.calls, 2);
  EXPECT_FALSE(multiplexer.event_exists(&s.ev));
}

}  // namespace
