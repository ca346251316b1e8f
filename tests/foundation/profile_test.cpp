#include "foundation/Profile.h"

#include <gtest/gtest.h>

#include <sstream>

#include "foundation/Mux.h"

namespace {

TEST(ProfileTest, PointsKeepMinMaxLastAndDumpNewestFirst) {
  std::ostringstream before;
  Profile::dump(before);
  {
    Profile::Point idle("idle");
    Profile::Point p("Tpkt_protocol::message");
    uint64_t t = 1'000'000;
    for (uint32_t d : {5u, 2u, 9u}) {
      Mux::test_clock_set(t);
      p.begin();
      t += d;
      Mux::test_clock_set(t);
      p.end();
    }
    Mux::test_clock_clear();
    std::ostringstream os;
    Profile::dump(os);
    EXPECT_EQ(os.str(),
              "[Tpkt_protocol::message]: min=2 max=9 avg=9 counter=3\n"
              "[idle]: min=0 max=0 avg=0 counter=0\n" +
                  before.str());
  }
  std::ostringstream after;
  Profile::dump(after);
  EXPECT_EQ(after.str(), before.str());
}

}  // namespace
