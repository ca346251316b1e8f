#include "foundation/Mux.h"

#include <cstdio>
#include <ctime>

namespace Mux {

struct ::timeval g_tv_time = {0, 0};

namespace {
bool fake_active = false;
uint64_t fake_usec = 0;

uint64_t usec_of(const struct ::timeval& tv) {
  return static_cast<uint64_t>(tv.tv_sec) * 1000000ull + static_cast<uint64_t>(tv.tv_usec);
}
}  // namespace

void test_clock_set(uint64_t usec_since_epoch) {
  fake_active = true;
  fake_usec = usec_since_epoch;
}
void test_clock_advance_ms(uint32_t ms) { fake_usec += static_cast<uint64_t>(ms) * 1000u; }
// A cache filled while the fake clock ran would freeze time at a fake instant: drop it.
void test_clock_clear() {
  fake_active = false;
  fake_usec = 0;
  g_tv_time = {0, 0};
}
bool test_clock_active() { return fake_active; }

static void live_time(struct ::timeval* tv) {
  if (fake_active) {
    tv->tv_sec = static_cast<time_t>(fake_usec / 1000000u);
    tv->tv_usec = static_cast<suseconds_t>(fake_usec % 1000000u);
    return;
  }
  ::gettimeofday(tv, nullptr);
}

void mux_settimeofday() { live_time(&g_tv_time); }
void mux_cleartimeofday() { g_tv_time = {0, 0}; }

void mux_gettimeofday(struct ::timeval* tv) {
  if (!fake_active && (g_tv_time.tv_sec != 0 || g_tv_time.tv_usec != 0)) {
    *tv = g_tv_time;
    return;
  }
  live_time(tv);
}

static uint64_t now_usec() {
  struct ::timeval tv;
  mux_gettimeofday(&tv);
  return usec_of(tv);
}

uint64_t time_us() { return now_usec(); }
uint32_t milliseconds() { return static_cast<uint32_t>(now_usec() / 1000u); }
uint32_t microseconds() { return static_cast<uint32_t>(now_usec()); }
uint32_t seconds() { return static_cast<uint32_t>(now_usec() / 1000000u); }

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
  time_t t = tv.seconds;
  struct tm lt;
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
