#include <gtest/gtest.h>

#include <sstream>
#include <utility>

#include "foundation/Measure.h"
#include "foundation/Mux.h"
#include "tests/support/UtcTime.h"

namespace {

class MuxTimeTest : public ::testing::Test {
 protected:
  void TearDown() override {
    Mux::test_clock_clear();
    Mux::mux_cleartimeofday();
  }
};

TEST_F(MuxTimeTest, ClocksWrapAtThirtyTwoBits) {
  const uint64_t usec = (uint64_t{1} << 32) * 1000 + 123'456'789;
  Mux::test_clock_set(usec);
  EXPECT_EQ(Mux::milliseconds(), 123'456u);
  EXPECT_EQ(Mux::microseconds(), static_cast<uint32_t>(usec));
  EXPECT_EQ(Mux::seconds(), static_cast<uint32_t>(usec / 1'000'000));
  Mux::timeval tv;
  EXPECT_EQ(Mux::gettimeval(tv), 0);
  EXPECT_EQ(tv.seconds, static_cast<int>(usec / 1'000'000));
  EXPECT_EQ(tv.microseconds, static_cast<int>(usec % 1'000'000));
  Mux::test_clock_advance_ms(1);
  EXPECT_EQ(Mux::milliseconds(), 123'457u);
}

// The cache freezes time within a pass, but the test clock overrides it.
TEST_F(MuxTimeTest, CachedTimeIsReturnedUntilClearedAndTestClockWins) {
  Mux::mux_settimeofday();
  struct ::timeval a, b;
  Mux::mux_gettimeofday(&a);
  Mux::mux_gettimeofday(&b);
  EXPECT_EQ(a.tv_sec, Mux::g_tv_time.tv_sec);
  EXPECT_EQ(a.tv_usec, b.tv_usec);
  Mux::test_clock_set(5'000'000);
  EXPECT_EQ(Mux::milliseconds(), 5000u);
  Mux::test_clock_clear();
  Mux::mux_cleartimeofday();
  EXPECT_GT(Mux::seconds(), 1'600'000'000u);
}

TEST_F(MuxTimeTest, TimeValueArithmeticCarriesAndBorrows) {
  using Mux::timeval;
  auto pair = [](const timeval& t) { return std::make_pair(t.seconds, t.microseconds); };
  timeval a = Mux::make_from_msec(1500), b = Mux::make_from_usec(700'000), out;
  Mux::timevaladd2(a, b, out);
  EXPECT_EQ(pair(out), std::make_pair(2, 200'000));
  Mux::timevalsub2(a, b, out);
  EXPECT_EQ(pair(out), std::make_pair(0, 800'000));
  Mux::timevalset(out, 123'456);
  EXPECT_EQ(pair(out), std::make_pair(123, 456'000));
  EXPECT_EQ(Mux::timevaldiff(b, a), 800);
  EXPECT_EQ(Mux::timevaldiff(a, b), 0);  // end before start
  EXPECT_EQ(Mux::timevalcompare(a, b), 1);
  EXPECT_EQ(Mux::timevalcompare(b, a), -1);
  EXPECT_EQ(Mux::timevalcompare(a, a), 0);
}

TEST_F(MuxTimeTest, PeriodicTimerAndText) {
  Mux::timeval_timer t;
  Mux::timeval start{100, 0}, now{101, 0};
  t.init(start, 0);
  EXPECT_FALSE(t.is_expired(Mux::timeval{1000, 0}));
  t.init(start, 1000);
  EXPECT_FALSE(t.is_expired(now));
  now.microseconds = 1000;
  EXPECT_TRUE(t.is_expired(now));
  t.inc();
  EXPECT_EQ(t.start.seconds, 101);
  EXPECT_FALSE(t.is_expired(now));

  vxtest::UtcTimeZone utc;
  EXPECT_EQ(Mux::timevaltostring(Mux::timeval{86400 + 3661, 42}), "1970-01-02 01:01:01.000042");
}

TEST_F(MuxTimeTest, MeasureKeepsMinMaxLastAndCountAcrossTheWrap) {
  Measure m;
  const uint64_t base = (uint64_t{1} << 32) - 3;  // microseconds wrap inside the first span
  const uint32_t spans[] = {5, 2, 9};
  uint64_t t = base;
  for (uint32_t d : spans) {
    Mux::test_clock_set(t);
    m.begin();
    t += d;
    Mux::test_clock_set(t);
    EXPECT_EQ(m.end(), d);
  }
  std::ostringstream os;
  os << m;
  EXPECT_EQ(os.str(), "min=2 max=9 avg=9 counter=3");
}

}  // namespace
