// The values a trap carries besides its payload: the uptime ticks and dotted identifiers.
#include <gtest/gtest.h>

#include <sys/sysinfo.h>
#include <time.h>

#include <string>
#include <vector>

#include "monitoring/TrapValues.h"

namespace {

uint64_t boot_ticks() {
  timespec t{};
  clock_gettime(CLOCK_BOOTTIME, &t);
  return uint64_t(t.tv_sec) * 100 + uint64_t(t.tv_nsec) / 10000000;
}

// Seconds and hundredths come from one monotonic reading: between two readings of the boot
// clock around it, near the system's uptime, never stepping back.
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

// Stores up to the capacity; whole unsigned 32-bit sub-identifiers; reads 127 characters at most.
TEST(TrapValues, ParseOid) {
  uint32_t oid[128] = {};
  ASSERT_EQ(parse_oid(oid, 16, "1.3.6.1.2.1.1.3.0"), 9);
  EXPECT_EQ((std::vector<uint32_t>(oid, oid + 9)), (std::vector<uint32_t>{1, 3, 6, 1, 2, 1, 1, 3, 0}));
  uint32_t four[5] = {9, 9, 9, 9, 9};
  EXPECT_EQ(parse_oid(four, 4, "1.3.6.1.2.1.1.3.0"), 4);
  EXPECT_EQ((std::vector<uint32_t>(four, four + 5)), (std::vector<uint32_t>{1, 3, 6, 1, 9}));
  EXPECT_EQ(parse_oid(oid, 16, "1..3"), 2);
  EXPECT_EQ(oid[1], 3u);
  EXPECT_EQ(parse_oid(oid, 16, ".1.x.7abc."), 3);
  EXPECT_EQ((std::vector<uint32_t>(oid, oid + 3)), (std::vector<uint32_t>{1, 0, 7}));
  ASSERT_EQ(parse_oid(oid, 4, "1.3.4294967295.2147483648"), 4);
  EXPECT_EQ(oid[2], 4294967295u);
  EXPECT_EQ(oid[3], 2147483648u);
  for (int n : {0, -1}) EXPECT_EQ(parse_oid(oid, n, "1.3"), 0) << n;
  EXPECT_EQ(parse_oid(oid, 16, "..."), 0);
  std::string text;
  for (int i = 0; i < 64; ++i) text += "1.";  // 128 characters: the 64th "1" is the 127th
  EXPECT_EQ(parse_oid(oid, 128, (text + "5").c_str()), 64);
  EXPECT_EQ(oid[63], 1u);
}

}  // namespace
