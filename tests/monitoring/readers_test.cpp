// The framer status parser and the interface link filter, the latter also through the
// simulated board's packet socket and interface table.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "board/netif.h"
#include "board/sim/SimBoard.h"
#include "monitoring/FramerDataHolder.h"
#include "monitoring/NetIfDataHolder.h"
#include "tests/support/CaptureStreams.h"

namespace {

bool feed(FramerDataHolder& f, const std::string& s) {
  std::vector<unsigned char> b(s.begin(), s.end());
  return f.setFramerStatus(b);
}

TEST(FramerDataHolder, StartsAbsentAndFollowsTheStateText) {
  FramerDataHolder f(1, "/x");
  EXPECT_EQ(f.statusDsc, "absent");
  EXPECT_FALSE(f.connected);
  EXPECT_TRUE(f.signalLoss && f.frameAlignLoss);

  EXPECT_TRUE(feed(f, "Current state           : No Carrier\n"));
  EXPECT_EQ(f.statusDsc, "No Carrier");
  EXPECT_FALSE(f.connected);
  EXPECT_FALSE(feed(f, "Current state           : No Carrier\n"));

  EXPECT_TRUE(feed(f, "Current state           : Active"));  // a last line without line end counts
  EXPECT_TRUE(f.connected);
  // A key in the middle of a line applies to the rest of that line.
  EXPECT_TRUE(feed(f, "xx Current state           : Sync lost\n"));
  EXPECT_EQ(f.statusDsc, "Sync lost");
}

TEST(FramerDataHolder, FlagsCountersAndForeignText) {
  FramerDataHolder f(2, "/x");
  EXPECT_TRUE(feed(f, "Loss of Signal          : no\n"));
  EXPECT_FALSE(f.signalLoss);
  EXPECT_FALSE(feed(f, "Loss of Signal          : yes \n"));  // a trailing blank is not "yes"
  EXPECT_FALSE(f.signalLoss);
  EXPECT_TRUE(feed(f, "Loss of Signal          : yes\n"));
  EXPECT_TRUE(feed(f, "Loss of Frame Alignment : no\nReceive Slip Negative   : 12\nReceive Slip Positive   : -3\n"));
  EXPECT_FALSE(f.frameAlignLoss);
  EXPECT_EQ(f.negSlipCount, 12);
  EXPECT_EQ(f.posSlipCount, -3);
  EXPECT_TRUE(feed(f, "Receive Slip Negative   : x\n"));
  EXPECT_EQ(f.negSlipCount, 0);
  // Huge counts are clamped, not wrapped; text past a zero byte and lines without keys change nothing.
  EXPECT_TRUE(feed(f, "Receive Slip Positive   : 99999999999999999999\n"));
  EXPECT_EQ(f.posSlipCount, INT32_MAX);
  EXPECT_FALSE(feed(f, std::string("garbage\n\0Current state           : Up\n", 38)));
  EXPECT_FALSE(feed(f, ""));
}

TEST(NetIfDataHolder, MajorityOfThreeSamples) {
  NetIfDataHolder n(2, "eth0");
  EXPECT_TRUE(n.setNetIfStatus(1));  // first sample: a change, to down
  EXPECT_EQ(n.running, 0);
  EXPECT_EQ(n.operStatus, 2);
  EXPECT_TRUE(n.setNetIfStatus(1));
  EXPECT_EQ(n.operStatus, 1);
  EXPECT_EQ(n.adminStatus, 1);
  EXPECT_FALSE(n.setNetIfStatus(0));  // 1 1 0: still up
  EXPECT_TRUE(n.setNetIfStatus(0));   // 1 0 0: down
  EXPECT_EQ(n.samples.size(), 3u);
  EXPECT_EQ(n.adminStatus, 2);
}

TEST(NetIfDataHolder, SamplesTheSimulatedInterfaceAndKeepsStateWhenItVanishes) {
  auto& sim = board::sim::SimBoard::instance().netif();
  sim.reset();
  ASSERT_TRUE(sim.set(7, "ppp7", IFF_UP | IFF_RUNNING));
  NetIfDataHolder n(7, "ppp7");
  EXPECT_TRUE(n.updateNetIf());
  EXPECT_TRUE(n.updateNetIf());
  EXPECT_EQ(n.operStatus, 1);

  sim.remove(7);
  const auto samples = n.samples;
  EXPECT_FALSE(n.updateNetIf());
  EXPECT_EQ(n.samples, samples);
  EXPECT_EQ(n.running, 1);
  // A refused request keeps the state as well.
  sim.set(7, "ppp7", IFF_UP | IFF_RUNNING);
  sim.fail_next(board::SIOCGIFFLAGS_, EIO);
  EXPECT_FALSE(n.updateNetIf());
  EXPECT_EQ(n.samples, samples);
  sim.reset();
}

}  // namespace
