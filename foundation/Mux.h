#pragma once
// The event loop's time base: one cached time of day, the wrapping 32-bit millisecond and
// microsecond clocks that every timer and measure counts on, and time-value arithmetic.
// A test clock can replace every time read, so tests drive timers without sleeping.
#include <sys/time.h>

#include <cstdint>
#include <string>

namespace Mux {

// A time value as the rest of the system passes it around.
struct timeval {
  int seconds = 0;
  int microseconds = 0;
};

// The cached time of day; zero means "read the clock live".
extern struct ::timeval g_tv_time;

// Stores the current time of day into the cache.
void mux_settimeofday();
// The cache when it is set, the live time of day otherwise (the test clock when active).
void mux_gettimeofday(struct ::timeval* tv);
// Drops the cache, so that every read is live again.
void mux_cleartimeofday();

uint32_t milliseconds();  // wraps about every 49.7 days
uint32_t microseconds();  // wraps about every 71.6 minutes
// The time of day in microseconds, whole: milliseconds() is its thousandth and microseconds()
// its low 32 bits, so one read can serve both.
uint64_t time_us();
uint32_t seconds();
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

// Test clock: while set, every time read (cached or live) returns this fake time; clearing
// it also drops the cache.
void test_clock_set(uint64_t usec_since_epoch);
void test_clock_advance_ms(uint32_t ms);
void test_clock_clear();
bool test_clock_active();

}  // namespace Mux
