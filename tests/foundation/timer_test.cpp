#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "LoopTest.h"
#include "foundation/TimerEvent.h"

namespace {

using TimerTest = LoopTest;

// A timer entry that records its firing under a tag.
class Tagged : public TimerEvent {
 public:
  Tagged(std::vector<std::string>* log, std::string tag) : log_(log), tag_(std::move(tag)) {}
  void fire() override { log_->push_back(tag_); }

 private:
  std::vector<std::string>* log_;
  std::string tag_;
};

// Runs timers_schedule at successive fake instants.
void run_at(uint32_t advance_ms) {
  Mux::test_clock_advance_ms(advance_ms);
  multiplexer.timers_schedule();
}

TEST_F(TimerTest, EqualDueTimesFireInArmingOrderAndReArmMovesBehind) {
  std::vector<std::string> log;
  Tagged a(&log, "a"), b(&log, "b"), c(&log, "c"), d(&log, "d");
  a.schedule(100);
  b.schedule(100);
  c.schedule(100);
  d.schedule(50);
  a.schedule(100);  // re-armed: unlinked first, then behind its equals
  EXPECT_EQ(multiplexer.timer_count(), 4u);
  EXPECT_EQ(multiplexer.timers_schedule(), 50);
  run_at(99);
  EXPECT_EQ(log, (std::vector<std::string>{"d"}));
  run_at(1);
  EXPECT_EQ(log, (std::vector<std::string>{"d", "b", "c", "a"}));
  EXPECT_FALSE(a.armed());
  EXPECT_EQ(multiplexer.timers_schedule(), 0);
}

// Entries armed over time with a few repeated delays, some re-armed and some reset, fire by
// due time and, for equal due times, in the order of their last arming.
TEST_F(TimerTest, RandomArmingFiresInDueThenArmingOrder) {
  std::mt19937 rng(7);
  const unsigned delays[] = {0, 1, 5, 17, 40, 40, 300, 1000};
  std::vector<std::string> log;
  std::vector<std::unique_ptr<Tagged>> ev;
  struct Armed {
    unsigned due;
    int seq;
    int id;
  };
  std::vector<Armed> model;
  int seq = 0;
  unsigned now = 0;
  auto arm = [&](int id) {
    unsigned d = delays[rng() % std::size(delays)];
    ev[id]->schedule(d);
    std::erase_if(model, [&](const Armed& a) { return a.id == id; });
    model.push_back({now + d, seq++, id});
  };
  for (int i = 0; i < 2000; ++i) {
    ev.push_back(std::make_unique<Tagged>(&log, std::to_string(i)));
    arm(i);
    if (i % 7 == 3) arm(static_cast<int>(rng() % ev.size()));  // re-armed
    if (i % 11 == 5) {                                          // disarmed
      int j = static_cast<int>(rng() % ev.size());
      ev[j]->reset();
      std::erase_if(model, [&](const Armed& a) { return a.id == j; });
    }
    if (i % 3 == 0) {
      unsigned step = rng() % 4;
      Mux::test_clock_advance_ms(step);
      now += step;
      // Nothing fires here: keep the model's entries until the single run at the end.
    }
  }
  std::stable_sort(model.begin(), model.end(), [](const Armed& a, const Armed& b) {
    return a.due != b.due ? a.due < b.due : a.seq < b.seq;
  });
  std::vector<std::string> expected;
  for (const Armed& a : model) expected.push_back(std::to_string(a.id));
  EXPECT_EQ(multiplexer.timer_count(), model.size());
  run_at(2000);
  EXPECT_EQ(log, expected);
}

TEST_F(TimerTest, ResetDisarmsAndDestructionUnlinks) {
  std::vector<std::string> log;
  Tagged a(&log, "a");
  auto b = std::make_unique<Tagged>(&log, "b");
  a.schedule(10);
  b->schedule(10);
  a.reset();
  a.reset();  // not armed: nothing
  b.reset();
  EXPECT_EQ(multiplexer.timer_count(), 0u);
  run_at(20);
  EXPECT_TRUE(log.empty());
  // Entries armed with the delay of a destroyed one are placed without it.
  Tagged c(&log, "c"), d(&log, "d");
  c.schedule(10);
  d.schedule(5);
  run_at(10);
  EXPECT_EQ(log, (std::vector<std::string>{"d", "c"}));
}

// Due times straddle the 32-bit wrap of the millisecond clock.
TEST_F(TimerTest, OrderAndWaitHoldAcrossTheMillisecondWrap) {
  Mux::test_clock_set((uint64_t{1} << 32) * 1000 * 7 - 5'000);  // 5 ms before a wrap
  ASSERT_EQ(Mux::milliseconds(), 0xFFFFFFFBu);
  std::vector<std::string> log;
  Tagged late(&log, "late"), early(&log, "early"), mid(&log, "mid");
  late.schedule(10);  // due 5 after the wrap
  early.schedule(2);  // due before the wrap
  mid.schedule(5);    // due exactly at 0
  EXPECT_EQ(mid.due, 0u);
  EXPECT_EQ(multiplexer.timers_schedule(), 2);
  run_at(2);
  EXPECT_EQ(log, (std::vector<std::string>{"early"}));
  EXPECT_EQ(multiplexer.timers_schedule(), 3);
  run_at(3);
  EXPECT_EQ(Mux::milliseconds(), 0u);
  EXPECT_EQ(log, (std::vector<std::string>{"early", "mid"}));
  run_at(5);
  EXPECT_EQ(log, (std::vector<std::string>{"early", "mid", "late"}));
}

TEST_F(TimerTest, WaitOfTwoHoursIsNormalOneMoreIsAClockFault) {
  std::vector<std::string> log;
  Tagged a(&log, "a"), b(&log, "b");
  a.schedule(7'200'000);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(multiplexer.timers_schedule(), 7'200'000);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

  a.schedule(7'200'001);
  b.schedule(7'200'001);
  const uint32_t now = Mux::milliseconds();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(multiplexer.timers_schedule(), 1000);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "******** RUNTIME ERROR CONDITION *************"
            "Multiplexer::timers_schedule() invalid wait time detected!\n"
            "now = " +
                std::to_string(now) + "\nfirst = " + std::to_string(now + 7'200'001) +
                "\ncount = 2\n");
  EXPECT_EQ(a.due, now + 1000);
  EXPECT_EQ(b.due, now + 1000);
  run_at(1000);
  EXPECT_EQ(log, (std::vector<std::string>{"a", "b"}));
}

TEST_F(TimerTest, ClockStepBackMovesEveryTimerToOneSecond) {
  std::vector<std::string> log;
  Tagged a(&log, "a"), b(&log, "b");
  a.schedule(10);
  b.schedule(20);
  Mux::test_clock_set(kTestEpochUsec - 3ull * 3600 * 1000 * 1000);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(multiplexer.timers_schedule(), 1000);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("count = 2\n"), std::string::npos);
  run_at(999);
  EXPECT_TRUE(log.empty());
  run_at(1);
  EXPECT_EQ(log, (std::vector<std::string>{"a", "b"}));
}

struct Owner {
  Timer timer;
  std::vector<std::string> log;
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
  void stats() { log.push_back("stats"); }
  static constexpr TimerSpec<Owner>::Entry kStats{&Owner::stats, 3000};
  TimerSpec<Owner>::SpecTimer<kStats> stat_timer;
};

TEST_F(TimerTest, TimerSetFromItsOwnCallbackArmsTheNewEntry) {
  Owner o;
  o.rearm = 1;
  o.timer.set(10, &Owner::plain, &o);
  run_at(10);
  ASSERT_TRUE(o.timer.is_set());
  EXPECT_TRUE(o.timer.get()->armed());
  run_at(10);
  EXPECT_EQ(o.log, (std::vector<std::string>{"plain", "plain"}));
  EXPECT_FALSE(o.timer.is_set());

  o.rearm = 1;
  o.timer.set(10, &Owner::with_timer, &o);
  run_at(10);
  run_at(10);
  EXPECT_EQ(o.log.size(), 4u);
  EXPECT_EQ(o.log[3], "with_timer");
  EXPECT_EQ(multiplexer.timer_count(), 0u);
}

TEST_F(TimerTest, SettingAgainReplacesThePendingCallAndDestructionCancels) {
  Owner o;
  o.timer.set(10, &Owner::plain, &o);
  o.timer.set(30, &Owner::with_timer, &o);
  EXPECT_EQ(multiplexer.timer_count(), 1u);
  run_at(10);
  EXPECT_TRUE(o.log.empty());
  run_at(20);
  EXPECT_EQ(o.log, (std::vector<std::string>{"with_timer"}));

  {
    Owner gone;
    gone.timer.set(5, &Owner::plain, &gone);
    gone.stat_timer.set(&gone);
    EXPECT_EQ(multiplexer.timer_count(), 2u);
  }
  EXPECT_EQ(multiplexer.timer_count(), 0u);

  o.stat_timer.set(&o);
  run_at(2999);
  run_at(1);
  EXPECT_EQ(o.log.back(), "stats");
}

// An entry made directly for a Timer that holds another entry leaves that one alone.
TEST_F(TimerTest, DirectEntryDoesNotStealTheTimersHeldEntry) {
  Owner o;
  o.timer.set(50, &Owner::plain, &o);
  TimerEvent* held = o.timer.get();
  new ObjTimerEvent2<Owner>(&o.timer, &Owner::with_timer, &o, 10);
  run_at(10);
  EXPECT_EQ(o.timer.get(), held);
  run_at(40);
  EXPECT_EQ(o.log, (std::vector<std::string>{"with_timer", "plain"}));
}

}  // namespace
