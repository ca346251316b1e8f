#include "foundation/Mux.h"

#include <time.h>

#include <cstdio>
#include <ctime>

// Dates past 2038 (pid, status and prompt files, the time of day) on the board's 32-bit CPU too.
static_assert(sizeof(time_t) >= 8, "time_t must be 64 bits: build with _TIME_BITS=64");

namespace Mux {

struct ::timeval g_tv_time = {0, 0};

namespace {
// The loop's clock as cached with g_tv_time (valid while g_tv_time is set).
uint64_t cached_loop_usec = 0;

bool fake_active = false;
uint64_t fake_loop_usec = 0;
uint64_t fake_day_usec = 0;

bool cached() { return g_tv_time.tv_sec != 0 || g_tv_time.tv_usec != 0; }

// The last time of day read; zero before the first.
struct ::timeval last_time_of_day = {0, 0};

void live_time_of_day(struct ::timeval* tv) {
  if (fake_active) {
    tv->tv_sec = static_cast<time_t>(fake_day_usec / 1000000u);
    tv->tv_usec = static_cast<suseconds_t>(fake_day_usec % 1000000u);
    return;
  }
  // A read that fails (a date the C library cannot express) gives the last one read rather than
  // leave the value unset.
  if (::gettimeofday(tv, nullptr) == 0) last_time_of_day = *tv;
  else *tv = last_time_of_day;
}

// CLOCK_MONOTONIC is read through the vDSO like gettimeofday(), at the same cost: no system
// call on the loop's pass.
struct ::timespec monotonic_now() {
  struct ::timespec ts {};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts;
}

uint64_t live_loop_usec() {
  if (fake_active) return fake_loop_usec;
  const struct ::timespec ts = monotonic_now();
  return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint32_t>(ts.tv_nsec) / 1000u;
}

// Live reads outside a test take the 32-bit counts straight from the clock: truncated sums of
// seconds and fractions equal the 64-bit count truncated, without 64-bit division (a library
// call on the board's 32-bit CPU).
bool read_live() { return !fake_active && !cached(); }

uint64_t loop_usec() {
  if (fake_active) return fake_loop_usec;
  return cached() ? cached_loop_usec : live_loop_usec();
}
}  // namespace

void test_clock_set(uint64_t usec_since_epoch) {
  fake_active = true;
  fake_loop_usec = usec_since_epoch;
  fake_day_usec = usec_since_epoch;
}
void test_clock_advance_ms(uint32_t ms) {
  fake_loop_usec += static_cast<uint64_t>(ms) * 1000u;
  fake_day_usec += static_cast<uint64_t>(ms) * 1000u;
}
void test_clock_step_time_of_day(int64_t usec) { fake_day_usec += static_cast<uint64_t>(usec); }
// A cache filled while the fake clock ran would freeze time at a fake instant: drop it.
void test_clock_clear() {
  fake_active = false;
  fake_loop_usec = 0;
  fake_day_usec = 0;
  g_tv_time = {0, 0};
}
bool test_clock_active() { return fake_active; }

void mux_settimeofday() {
  live_time_of_day(&g_tv_time);
  cached_loop_usec = live_loop_usec();
}
void mux_cleartimeofday() { g_tv_time = {0, 0}; }

void mux_gettimeofday(struct ::timeval* tv) {
  if (!fake_active && cached()) {
    *tv = g_tv_time;
    return;
  }
  live_time_of_day(tv);
}

uint64_t time_us() { return loop_usec(); }
uint32_t milliseconds() {
  if (read_live()) {
    const struct ::timespec ts = monotonic_now();
    return static_cast<uint32_t>(ts.tv_sec) * 1000u + static_cast<uint32_t>(ts.tv_nsec) / 1000000u;
  }
  return static_cast<uint32_t>(loop_usec() / 1000u);
}
uint32_t microseconds() {
  if (read_live()) {
    const struct ::timespec ts = monotonic_now();
    return static_cast<uint32_t>(ts.tv_sec) * 1000000u + static_cast<uint32_t>(ts.tv_nsec) / 1000u;
  }
  return static_cast<uint32_t>(loop_usec());
}
uint32_t seconds() {
  struct ::timeval tv;
  mux_gettimeofday(&tv);
  return static_cast<uint32_t>(tv.tv_sec);
}

int gettimeval(Mux::timeval& tv) {
  struct ::timeval t;
  mux_gettimeofday(&t);
  tv.seconds = static_cast<int>(t.tv_sec);
  tv.microseconds = static_cast<int>(t.tv_usec);
  return 0;
}

timeval make_from_usec(unsigned usec) {
  return timeval{static_cast<int>(usec / 1000000u), static_cast<int>(usec % 1000000u)};
}
timeval make_from_msec(unsigned msec) {
  return timeval{static_cast<int>(msec / 1000u), static_cast<int>((msec % 1000u) * 1000u)};
}

void timevaladd(timeval& a, const timeval& b) {
  a.seconds += b.seconds;
  a.microseconds += b.microseconds;
  if (a.microseconds >= 1000000) {
    a.microseconds -= 1000000;
    ++a.seconds;
  }
}

void timevalsub(timeval& a, const timeval& b) {
  a.seconds -= b.seconds;
  a.microseconds -= b.microseconds;
  if (a.microseconds < 0) {
    a.microseconds += 1000000;
    --a.seconds;
  }
}

void timevaladd2(const timeval& a, const timeval& b, timeval& out) {
  out = a;
  timevaladd(out, b);
}
void timevalsub2(const timeval& a, const timeval& b, timeval& out) {
  out = a;
  timevalsub(out, b);
}

void timevalset(timeval& tv, unsigned long long ms) {
  tv.seconds = static_cast<int>(ms / 1000u);
  tv.microseconds = static_cast<int>((ms % 1000u) * 1000u);
}

long long timevaldiff(const timeval& a, const timeval& b) {
  if (timevalcompare(b, a) < 0) return 0;
  return static_cast<long long>(b.seconds - static_cast<long long>(a.seconds)) * 1000 +
         (b.microseconds - a.microseconds) / 1000;
}

int timevalcompare(const timeval& a, const timeval& b) {
  if (a.seconds != b.seconds) return a.seconds < b.seconds ? -1 : 1;
  if (a.microseconds != b.microseconds) return a.microseconds < b.microseconds ? -1 : 1;
  return 0;
}

std::string timevaltostring(const timeval& tv) {
  // The 32-bit seconds as dates: unsigned, so that they run to 2106 rather than turn back to
  // 1901 in 2038.
  const time_t t = static_cast<uint32_t>(tv.seconds);
  struct tm lt {};
  ::localtime_r(&t, &lt);
  char date[64];
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &lt);
  char out[96];
  std::snprintf(out, sizeof out, "%s.%06ld", date, static_cast<long>(tv.microseconds));
  return out;
}

void timeval_timer::init(const timeval& tv, int period_ms) {
  start = tv;
  period = period_ms;
}
void timeval_timer::init_now(const timeval& tv) { start = tv; }
bool timeval_timer::is_expired(const timeval& now) const {
  if (period < 1) return false;
  return timevaldiff(start, now) > period;
}
void timeval_timer::inc() {
  timeval p;
  timevalset(p, static_cast<unsigned long long>(period));
  timevaladd(start, p);
}

}  // namespace Mux
