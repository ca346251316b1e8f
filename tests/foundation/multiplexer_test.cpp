#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "LoopTest.h"
#include "foundation/Dpc.h"
#include "foundation/TimerEvent.h"
#include "tests/support/TempDir.h"

namespace {

struct Recorder {
  std::vector<std::string>* log;
  std::string tag;
  void note() { log->push_back(tag); }
};

using MultiplexerTest = LoopTest;

TEST_F(MultiplexerTest, PassRunsTimersThenDpcsTwiceThenHandlersInAttachOrder) {
  std::vector<std::string> log;
  Pipe p;
  p.fill();
  TestHandler h1("h1", p.rd, &log), h2("h2", p.rd, &log);
  h1.mux_attach();
  h2.mux_attach();
  Recorder rt{&log, "timer"}, rd{&log, "dpc"};
  Timer t;
  t.set(0, &Recorder::note, &rt);
  Dpc d;
  d.Bind(&rd, &Recorder::note);
  d.Activate();

  EXPECT_TRUE(multiplexer.run_once(0));
  EXPECT_EQ(log, (std::vector<std::string>{"timer", "dpc", "dpc", "h1", "h2"}));
  EXPECT_FALSE(t.is_set());

  log.clear();
  d.Deactivate();
  EXPECT_TRUE(multiplexer.run_once(0));
  EXPECT_EQ(log, (std::vector<std::string>{"h1", "h2"}));
}

TEST_F(MultiplexerTest, HandlersAttachedOrDetachedWhileServingWaitForTheNextPass) {
  std::vector<std::string> log;
  Pipe p;
  p.fill();
  TestHandler h1("h1", p.rd, &log), h2("h2", p.rd, &log), h3("h3", p.rd, &log);
  h1.mux_attach();
  h2.mux_attach();
  h1.on_serve = [&] {
    h3.mux_attach();
    h2.mux_detach();
  };
  multiplexer.run_once(0);
  EXPECT_EQ(log, (std::vector<std::string>{"h1"}));

  log.clear();
  h1.on_serve = nullptr;
  h2.mux_attach();
  multiplexer.run_once(0);
  EXPECT_EQ(log, (std::vector<std::string>{"h1", "h3", "h2"}));
}

// Every handler is served, also one without events; and a deferred call that detaches a
// handler after the poll array was filled must not shift the returned events onto the wrong
// handler.
TEST_F(MultiplexerTest, HandlerDetachedByDpcBeforePollLeavesOthersTheirOwnEvents) {
  Pipe ready, quiet;
  ready.fill();
  TestHandler a("a", quiet.rd, nullptr), b("b", ready.rd, nullptr), c("c", quiet.rd, nullptr);
  a.mux_attach();
  b.mux_attach();
  c.mux_attach();
  struct Detacher {
    TestHandler* victim;
    int calls = 0;
    void run() {
      if (++calls == 2) victim->mux_detach();  // the run just before poll()
    }
  } det{&a};
  Dpc d;
  d.Bind(&det, &Detacher::run);
  d.Activate();
  multiplexer.run_once(0);
  d.Deactivate();
  EXPECT_TRUE(a.served_revents.empty());
  EXPECT_EQ(b.served_revents, std::vector<short>{POLLIN});
  EXPECT_EQ(c.served_revents, std::vector<short>{0});
  EXPECT_FALSE(multiplexer.event_exists(&a));
}

// terminate() from a handler stops the pass, but the handlers not yet served keep their
// place: a later run polls and serves all of them in attach order.
TEST_F(MultiplexerTest, TerminateMidPassKeepsUnservedHandlersInOrder) {
  std::vector<std::string> log;
  Pipe p;
  p.fill();
  TestHandler h1("h1", p.rd, &log), h2("h2", p.rd, &log), h3("h3", p.rd, &log);
  h1.mux_attach();
  h2.mux_attach();
  h3.mux_attach();
  h1.on_serve = [] { multiplexer.terminate(); };
  ::testing::internal::CaptureStderr();
  multiplexer.run(false, true);
  EXPECT_EQ(log, (std::vector<std::string>{"h1"}));
  EXPECT_TRUE(multiplexer.event_exists(&h2));
  EXPECT_TRUE(multiplexer.event_exists(&h3));

  log.clear();
  h1.on_serve = nullptr;
  h3.on_serve = [] { multiplexer.terminate(); };
  multiplexer.run(false, true);
  EXPECT_EQ(log, (std::vector<std::string>{"h1", "h2", "h3"}));
  log.clear();
  multiplexer.run(false, true);
  EXPECT_EQ(log, (std::vector<std::string>{"h1", "h2", "h3"}));
  ::testing::internal::GetCapturedStderr();
}

// With only an idle descriptor left, a terminate() from a timer must not block in poll().
TEST_F(MultiplexerTest, TerminateBeforePollDoesNotWait) {
  Pipe p;
  TestHandler idle("idle", p.rd, nullptr);
  idle.mux_attach();
  Timer t;
  t.set(0, +[] { multiplexer.terminate(); });
  ::testing::internal::CaptureStderr();
  multiplexer.run(false, true);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Mux: terminating...\n");
  EXPECT_TRUE(idle.served_revents.empty());
}

TEST_F(MultiplexerTest, AttachAndDetachMisuseIsReportedAndIgnored) {
  Pipe p;
  TestHandler h("dup", p.rd, nullptr);
  ::testing::internal::CaptureStderr();
  multiplexer.attach(&h);
  multiplexer.attach(&h);
  multiplexer.detach(&h);
  multiplexer.detach(&h);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "duplicate multiplexer attach \"dup\" ignored.\n"
            "indvalid Multiplexer::detach dup\n");
  EXPECT_EQ(multiplexer.handler_count(), 0u);
}

TEST(MultiplexerDeathTest, NothingToWaitForIsAHang) {
  GTEST_FLAG_SET(death_test_style, "fast");
  EXPECT_DEATH(multiplexer.run(false, true), "multiplexer: system hang detected!!!");
}

TEST_F(MultiplexerTest, DpcsRunInAddressOrderOnceEachAndStopWhenDeactivated) {
  std::vector<std::string> log;
  Dpc dpcs[3];
  Recorder r[3] = {{&log, "0"}, {&log, "1"}, {&log, "2"}};
  struct Killer {
    Dpc* victim;
    std::vector<std::string>* log;
    void run() {
      log->push_back("k");
      victim->Deactivate();
    }
  } killer{&dpcs[2], &log};
  dpcs[0].Bind(&killer, &Killer::run);
  dpcs[1].Bind(&r[1], &Recorder::note);
  dpcs[2].Bind(&r[2], &Recorder::note);
  dpcs[2].Activate();
  dpcs[1].Activate();
  dpcs[1].Activate();
  dpcs[0].Activate();
  multiplexer.execute_dpc();
  EXPECT_EQ(log, (std::vector<std::string>{"k", "1"}));
  EXPECT_FALSE(dpcs[2].IsActive());

  log.clear();
  Dpc unbound;
  unbound.Activate();
  dpcs[0].Deactivate();
  multiplexer.execute_dpc();
  EXPECT_EQ(log, (std::vector<std::string>{"1"}));
}

TEST_F(MultiplexerTest, TimerPluginsShortenTheWaitAndMayUnhookDuringTheCall) {
  struct Plugin : TimerPoolPlugin {
    int wait;
    Plugin* unhook_other = nullptr;
    int calls = 0;
    explicit Plugin(int w) : wait(w) {}
    int timerWait() override {
      ++calls;
      if (unhook_other) unhook_other->timerUnhook();
      return wait;
    }
  };
  EXPECT_EQ(multiplexer.timerPoll_schedule(), INT_MAX);
  Plugin a(-1), b(300), c(200);
  a.timerHook();
  b.timerHook();
  b.timerHook();
  c.timerHook();
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
  std::string written() const {
    std::ifstream in(device());
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // Runs the loop, watchdog on, for the one pass that serves a ready pipe (inside runs in that
  // pass); what the loop logged.
  static std::string run_one_pass(const std::function<void()>& inside = {}) {
    Pipe p;
    p.fill();
    TestHandler h("once", p.rd, nullptr);
    h.on_serve = [&] {
      if (inside) inside();
      multiplexer.terminate();
    };
    h.mux_attach();
    ::testing::internal::CaptureStderr();
    multiplexer.run(true, true);
    std::string logged = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(h.served_revents.size(), 1u);
    return logged;
  }
  vxtest::TempDir root_{"vx_wd"};
};

// Each pass takes 400 ms of fake time: "PING" at the first pass and then after every pass
// that ends 1000 ms or more after the last feed.
TEST_F(WatchdogTest, StartPingStopAreWrittenAroundTheLoop) {
  std::ofstream(device()).close();
  Pipe p;
  p.fill();
  int passes = 0;
  TestHandler h("busy", p.rd, nullptr);
  h.on_serve = [&] {
    Mux::test_clock_advance_ms(400);
    if (++passes == 7) multiplexer.terminate();
  };
  h.mux_attach();
  ::testing::internal::CaptureStderr();  // std::clog shares the descriptor
  multiplexer.run(true, false);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Mux: terminating...\n");
  EXPECT_EQ(written(), "STARTPINGPINGPINGSTOP");
  EXPECT_EQ(multiplexer.watchdog_fd(), -1);
}

TEST_F(WatchdogTest, MissingDeviceIsReportedAndTheLoopRunsWithout) {
  EXPECT_EQ(run_one_pass(),
            "Mux: fail to open watchdog: No such file or directory\n"
            "Mux: terminating...\n");
}

TEST_F(WatchdogTest, DeviceRefusingStartIsClosedAndTheLoopRunsWithout) {
  std::filesystem::create_symlink("/dev/full", device());
  EXPECT_EQ(run_one_pass([] { EXPECT_EQ(multiplexer.watchdog_fd(), -1); }),
            "Mux: fail to activate watchdog: No space left on device"
            "Mux: terminating...\n");
}

TEST_F(WatchdogTest, HangIsFatalAlsoWithTheWatchdogOpen) {
  GTEST_FLAG_SET(death_test_style, "fast");
  std::ofstream(device()).close();
  EXPECT_DEATH(multiplexer.run(true, true), "multiplexer: system hang detected!!!");
}

}  // namespace
