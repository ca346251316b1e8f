#pragma once
// The event loop's time base: the loop's clock, which every timer, timeout and measure counts
// on, as wrapping 32-bit millisecond and microsecond counts; the time of day, for what shows a
// date or a time of day; both optionally cached for a pass; and time-value arithmetic. A test
// clock can replace every time read, so tests drive timers without sleeping.
//
// The loop's clock is the monotonic clock: setting the time of day (NTP's first step after a
// boot without a battery-backed clock, an operator's date, a drifting clock corrected by
// steps) must not stop timers, fire them in bursts or make a controller look silent.
#include <sys/time.h>

#include <cstdint>
#include <string>

namespace Mux {

// A time value as the rest of the system passes it around.
struct timeval {
  int seconds = 0;
  int microseconds = 0;
};

// The cached time of day; zero means "read the clocks live".
extern struct ::timeval g_tv_time;

// Stores the current time of day and the loop's clock into the cache, one instant for both.
void mux_settimeofday();
// The time of day: the cache when it is set, the live clock otherwise (the test clock when
// active). For dates and times of day only; durations are taken on milliseconds().
void mux_gettimeofday(struct ::timeval* tv);
// Drops the cache, so that every read is live again.
void mux_cleartimeofday();

// The loop's clock. Its origin is arbitrary (the boot); only differences mean something,
// taken modulo 2^32.
uint32_t milliseconds();  // wraps about every 49.7 days
uint32_t microseconds();  // wraps about every 71.6 minutes
// The loop's clock in microseconds, whole: milliseconds() is its thousandth and
// microseconds() its low 32 bits, so one read can serve both.
uint64_t time_us();
// The time of day in whole seconds since the epoch.
uint32_t seconds();
// The time of day as a time value; returns 0.
int gettimeval(Mux::timeval& tv);

timeval make_from_usec(unsigned usec);
timeval make_from_msec(unsigned msec);
void timevaladd(timeval& a, const timeval& b);
void timevalsub(timeval& a, const timeval& b);
void timevaladd2(const timeval& a, const timeval& b, timeval& out);
void timevalsub2(const timeval& a, const timeval& b, timeval& out);
void timevalset(timeval& tv, unsigned long long ms);
// b minus a in milliseconds; 0 when b is earlier than a.
long long timevaldiff(const timeval& a, const timeval& b);
int timevalcompare(const timeval& a, const timeval& b);
// Local time as "YYYY-mm-dd HH:MM:SS.uuuuuu".
std::string timevaltostring(const timeval& tv);

// A periodic deadline on time values.
struct timeval_timer {
  timeval start;
  int period = 0;  // ms

  void init(const timeval& tv, int period_ms);
  void init_now(const timeval& tv);
  bool is_expired(const timeval& now) const;
  void inc();
};

// Test clock: while set, every time read (cached or live) returns fake times. Setting it puts
// the loop's clock and the time of day at the same count; advancing moves both, as time
// passing does; stepping the time of day moves only that one, as setting the date does.
// Clearing it also drops the cache.
void test_clock_set(uint64_t usec_since_epoch);
void test_clock_advance_ms(uint32_t ms);
void test_clock_step_time_of_day(int64_t usec);
void test_clock_clear();
bool test_clock_active();

}  // namespace Mux
