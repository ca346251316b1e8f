// The values a trap carries besides its payload: the uptime ticks and dotted identifiers.
#include <gtest/gtest.h>

#include <sys/sysinfo.h>
#include <time.h>

#include <string>

#include "monitoring/TrapValues.h"

namespace {

uint64_t boot_ticks() {
  timespec t{};
  clock_gettime(CLOCK_BOOTTIME, &t);
  return uint64_t(t.tv_sec) * 100 + uint64_t(t.tv_nsec) / 10000000;
}

// Seconds and hundredths come from one monotonic reading: the value lies between two readings
// of the boot clock taken around it, agrees with the system's uptime and never steps back (a
// wall-clock fraction on top of the uptime's seconds would do both).
TEST(TrapValues, UptimeFollowsTheSystemsMonotonicClock) {
  uint32_t last = 0;
  for (int i = 0; i < 20000; ++i) {
    const uint32_t before = uint32_t(boot_ticks());
    const uint32_t up = get_uptime();
    const uint32_t after = uint32_t(boot_ticks());
    ASSERT_LE(before, up);
    ASSERT_LE(up, after);
    ASSERT_GE(up, last);
    last = up;
  }
  struct sysinfo info {};
  ASSERT_EQ(sysinfo(&info), 0);
  const long seconds = long(get_uptime() / 100);
  EXPECT_LE(std::labs(seconds - info.uptime), 1);
}

TEST(TrapValues, ParseOidStoresUpToTheCapacity) {
  uint32_t oid[16] = {};
  ASSERT_EQ(parse_oid(oid, 16, "1.3.6.1.2.1.1.3.0"), 9);
  EXPECT_EQ(oid[0], 1u);
  EXPECT_EQ(oid[5], 1u);
  EXPECT_EQ(oid[7], 3u);
  EXPECT_EQ(oid[8], 0u);
  uint32_t four[5] = {9, 9, 9, 9, 9};
  EXPECT_EQ(parse_oid(four, 4, "1.3.6.1.2.1.1.3.0"), 4);
  EXPECT_EQ(four[3], 1u);
  EXPECT_EQ(four[4], 9u);  // nothing past the capacity
  EXPECT_EQ(parse_oid(oid, 16, "1..3"), 2);
  EXPECT_EQ(oid[1], 3u);
  EXPECT_EQ(parse_oid(oid, 16, ".1.x.7abc."), 3);
  EXPECT_EQ(oid[0], 1u);
  EXPECT_EQ(oid[1], 0u);
  EXPECT_EQ(oid[2], 7u);
  EXPECT_EQ(parse_oid(nullptr, 16, "1.3"), 0);
  EXPECT_EQ(parse_oid(oid, 16, nullptr), 0);
  EXPECT_EQ(parse_oid(oid, 0, "1.3"), 0);
  EXPECT_EQ(parse_oid(oid, -1, "1.3"), 0);
  EXPECT_EQ(parse_oid(oid, 16, "..."), 0);
}

// Sub-identifiers are unsigned 32-bit: the largest reads the same on 32- and 64-bit hosts.
TEST(TrapValues, ParseOidReadsWholeSubIdentifiers) {
  uint32_t oid[4] = {};
  ASSERT_EQ(parse_oid(oid, 4, "1.3.4294967295.2147483648"), 4);
  EXPECT_EQ(oid[2], 4294967295u);
  EXPECT_EQ(oid[3], 2147483648u);
}

TEST(TrapValues, ParseOidReadsOnly127Characters) {
  std::string text;
  for (int i = 0; i < 64; ++i) text += "1.";  // 128 characters: the 64th "1" is the 127th
  text += "5";
  uint32_t oid[128] = {};
  EXPECT_EQ(parse_oid(oid, 128, text.c_str()), 64);
  EXPECT_EQ(oid[63], 1u);
}

}  // namespace
