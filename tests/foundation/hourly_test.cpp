#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <ostream>
#include <string>

#include "foundation/HourlyLog.h"
#include "foundation/Mux.h"
#include "tests/support/TempDir.h"
#include "tests/support/UtcTime.h"

namespace {

using vxtest::utc_usec;

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class HourlyLog : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir_.empty()); }
  void TearDown() override { Mux::test_clock_clear(); }
  std::string file(const char* name) { return slurp(dir_ + "/" + name); }
  bool exists(const char* name) { return access((dir_ + "/" + name).c_str(), F_OK) == 0; }

  vxtest::UtcTimeZone utc_;
  vxtest::TempDir tmp_{"vx_hourly"};
  const std::string dir_ = tmp_.path();
};

}  // namespace

TEST_F(HourlyLog, LinesArePrefixedOnceAndFilesFollowTheHourAndDay) {
  Mux::test_clock_set(utc_usec(2026, 3, 3, 10, 59, 58, 4567));
  LogFileStreamBuf buf(dir_);
  std::ostream os(&buf);
  EXPECT_EQ(buf.path(), dir_ + "/2026_03_03-10.log");

  os << "ab\ncd" << std::flush;
  EXPECT_EQ(file("2026_03_03-10.log"), "59:58:04567: ab\n59:58:04567: cd");
  Mux::test_clock_advance_ms(1000);
  os << "ef\n" << std::flush;  // continues the open line: no new prefix
  // A line longer than the put area keeps the prefix taken when its first bytes went out.
  Mux::test_clock_set(utc_usec(2026, 3, 3, 10, 59, 59, 123456));
  os << "0123456789abcdefghijklmnopqrstuvwxyz" << std::endl;
  EXPECT_EQ(file("2026_03_03-10.log"),
            "59:58:04567: ab\n59:58:04567: cdef\n59:59:123456: 0123456789abcdefghijklmnopqrstuvwxyz\n");

  Mux::test_clock_advance_ms(1000);
  os << "next hour" << std::endl;
  EXPECT_EQ(file("2026_03_03-11.log"), "00:00:123456: next hour\n");
  EXPECT_EQ(buf.path(), dir_ + "/2026_03_03-11.log");

  // Same hour of another day: a file of its own, not the old one.
  Mux::test_clock_set(utc_usec(2026, 3, 4, 11, 5, 0, 0));
  os << "next day" << std::endl;
  EXPECT_EQ(file("2026_03_03-11.log"), "00:00:123456: next hour\n");
  EXPECT_EQ(file("2026_03_04-11.log"), "05:00:00000: next day\n");

  // New year's eve to new year.
  Mux::test_clock_set(utc_usec(2026, 12, 31, 23, 59, 59, 999999));
  os << "old" << std::endl;
  Mux::test_clock_advance_ms(1);
  os << "new" << std::endl;
  EXPECT_EQ(file("2026_12_31-23.log"), "59:59:999999: old\n");
  EXPECT_EQ(file("2027_01_01-00.log"), "00:00:00999: new\n");
}

TEST_F(HourlyLog, RestartWithinTheHourKeepsEarlierLines) {
  Mux::test_clock_set(utc_usec(2026, 3, 3, 14, 5, 0, 0));
  {
    LogFileStreamBuf buf(dir_);
    std::ostream os(&buf);
    os << "before restart" << std::endl;
  }
  Mux::test_clock_advance_ms(60000);
  LogFileStreamBuf buf(dir_);
  std::ostream os(&buf);
  os << "after restart" << std::endl;
  EXPECT_EQ(file("2026_03_03-14.log"), "05:00:00000: before restart\n06:00:00000: after restart\n");
}

TEST_F(HourlyLog, UnusableDirectoriesLoseLinesQuietly) {
  Mux::test_clock_set(utc_usec(2026, 3, 3, 14, 5, 0, 0));
  {
    LogFileStreamBuf buf(dir_ + "/missing");
    std::ostream os(&buf);
    os << "lost" << std::endl;
    EXPECT_TRUE(os.good());
  }
  EXPECT_FALSE(exists("missing"));

  // A directory name too long for the file name is refused, not cut into another name.
  const std::string longdir = dir_ + "/" + std::string(240, 'd');
  ASSERT_EQ(mkdir(longdir.c_str(), 0755), 0);
  {
    LogFileStreamBuf buf(longdir);
    std::ostream os(&buf);
    os << "lost" << std::endl;
    EXPECT_EQ(buf.path(), "");
  }
  EXPECT_EQ(std::string(), slurp(longdir + "/2026_03_03-14.log"));
}
