// Releasing a controller channel's switch routes: the channel stays kept from any later owner
// while an output still carries it, a channel that ended under its owner leaves its outputs at
// once, and a takedown the switch refuses is tried again until it holds.
#include <fcntl.h>

#include <cerrno>

#include "board/board.h"
#include "board/hal.h"
#include "board/mcc.h"
#include "hardware/HDLC.h"
#include "hardware/HwMux.h"
#include "hardware/SwitchRoutes.h"
#include "HwDevTest.h"

namespace {

using board::sim::SimSwitch;

class SwitchReleaseTest : public HwDevTest {
 protected:
  static constexpr int kOut = 8192 + 11;
  void SetUp() override {
    HwDevTest::SetUp();
    HwMux::instance();
    hdlc.params.tdm = kOut;
    hdlc.params.mode = HDLC::mode_isdn;
  }
  void TearDown() override {
    hdlc.deactivate();
    SwitchRoutes::end_grace();
    sim().state().mcc_data_capacity = 32;
    HwDevTest::TearDown();
  }
  static std::string sw(int channel) {
    const auto& e = sim().state().mux.entry(channel);
    return e.kind == SimSwitch::Entry::connected ? "from " + std::to_string(e.source) : "off";
  }
  static bool open(int channel) {
    const auto* c = sim().hdlc_channel(channel);
    return c && c->open;
  }
  int activate() {
    EXPECT_TRUE(hdlc.activate());
    return requests(Device::mcc, board::mcc::MCC_TIMESLOT).back().result;
  }
  // Another owner's channel, as a slot that allocates one and only writes on it would take it;
  // through_book: allocated as the daemon's owners do, through the route book.
  static int other_owner(int& fd, bool through_book = false) {
    fd = board::open(HDLC::kPath, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    board::mcc::Allocate a;
    a.type = board::mcc::kTypeData;
    a.rx_packet_size = 512;
    a.reserved = 0;
    a.rx_threshold = 1;
    a.tx_threshold = 1;
    const int r = through_book ? SwitchRoutes::allocate(fd, a) : board::ioctl(fd, board::mcc::MCC_ALLOCATE, &a);
    if (r < 0) return -1;
    return board::ioctl(fd, board::mcc::MCC_TIMESLOT, nullptr);
  }

  HDLC hdlc;
};

TEST_F(SwitchReleaseTest, AReleasedChannelIsNoOneElsesWhileItsOutputCarriesIt) {
  const int c = activate();
  ASSERT_EQ(sw(kOut), "from " + std::to_string(c));
  hdlc.deactivate();
  EXPECT_EQ(sw(c), "off");
  EXPECT_EQ(sw(kOut), "from " + std::to_string(c)) << "the grace for its last frames";
  int fd = -1;
  const int next = other_owner(fd);
  ASSERT_GE(next, 0);
  EXPECT_NE(next, c) << "a new owner's frames would reach the old output";
  EXPECT_TRUE(open(c));
  advance(SwitchRoutes::kGraceMs - 1);
  EXPECT_TRUE(open(c));
  advance(1);
  EXPECT_EQ(sw(kOut), "off");
  EXPECT_FALSE(open(c));
  EXPECT_EQ(SwitchRoutes::holding(), 0u);
  board::close(fd);

  // A channel that ends under its owner may be another's already: no grace for it.
  const int d = activate();
  ASSERT_TRUE(sim().hangup_channel(d));
  pass(3);
  EXPECT_FALSE(hdlc.is_open());
  EXPECT_EQ(sw(kOut), "off");
  EXPECT_EQ(sw(d), "off");
  EXPECT_EQ(SwitchRoutes::releasing(), 0u);
  EXPECT_EQ(SwitchRoutes::holding(), 0u);

  // Nor for one its owner released without keeping it.
  HwMux::instance()->Connect(300, kOut);
  SwitchRoutes::made(300, kOut);
  SwitchRoutes::release(300);
  EXPECT_EQ(sw(kOut), "off");
}

TEST_F(SwitchReleaseTest, AnOwnerThatFindsNoChannelFreeEndsTheGraceOfTheKeptOnes) {
  sim().state().mcc_data_capacity = 1;
  const int c = activate();
  hdlc.deactivate();
  ASSERT_EQ(SwitchRoutes::holding(), 1u);
  HDLC next;
  next.params.tdm = 8192 + 12;
  next.params.mode = HDLC::mode_isdn;
  ASSERT_TRUE(next.activate());
  EXPECT_EQ(sw(8192 + 12), "from " + std::to_string(c));
  EXPECT_EQ(sw(kOut), "off");
  EXPECT_EQ(SwitchRoutes::holding(), 0u);
  next.deactivate();
}

// The switch refuses (busy) while a channel is released: the route is not forgotten but taken
// down again, and the channel stays kept until it is down.
TEST_F(SwitchReleaseTest, ARefusedTakedownIsTriedAgainUntilItHolds) {
  const int c = activate();
  sim().fail_next(Device::hal, EBUSY, 1, board::hal::MUX_DISABLE);
  hdlc.deactivate();
  EXPECT_LINE(log(), "hwMux: disable failed " + std::to_string(c) + " : Device or resource busy");
  EXPECT_EQ(sw(c), "from " + std::to_string(kOut));
  advance(SwitchRoutes::kRetryMs - 1);
  EXPECT_EQ(sw(c), "from " + std::to_string(kOut));
  advance(1);
  EXPECT_EQ(sw(c), "off");
  EXPECT_TRUE(open(c));
  EXPECT_EQ(sw(kOut), "from " + std::to_string(c));
  advance(SwitchRoutes::kGraceMs);
  EXPECT_EQ(sw(kOut), "off");
  EXPECT_FALSE(open(c));

  // A refused output of a channel that was given back: tried again, unless another source is
  // patched onto it meanwhile, which is then left alone.
  HwMux& mux = *HwMux::instance();
  for (bool taken_over : {false, true}) {
    mux.Connect(300, kOut);
    SwitchRoutes::made(300, kOut);
    sim().fail_next(Device::hal, EBUSY, 1, board::hal::MUX_DISABLE);
    SwitchRoutes::release(300);
    EXPECT_EQ(sw(kOut), "from 300");
    EXPECT_EQ(SwitchRoutes::releasing(), 1u);
    if (taken_over) {
      mux.Connect(301, kOut);
      SwitchRoutes::made(301, kOut);
    }
    advance(SwitchRoutes::kRetryMs);
    EXPECT_EQ(sw(kOut), taken_over ? "from 301" : "off");
    EXPECT_EQ(SwitchRoutes::releasing(), 0u);
  }
}

// Two channels patched onto one output (one link, two addresses): the newer one's release gives
// the output back to the other at once, without a grace; a give-back the switch refuses is owed,
// and the released channel's route is never wanted again.
TEST_F(SwitchReleaseTest, AnOutputTwoChannelsShareGoesBackToTheOneLeft) {
  const int a = activate();
  HDLC other;
  other.params = hdlc.params;
  ASSERT_TRUE(other.activate());
  const int b = requests(Device::mcc, board::mcc::MCC_TIMESLOT).back().result;
  ASSERT_EQ(sw(kOut), "from " + std::to_string(b));
  sim().fail_next(Device::hal, EBUSY, 1, board::hal::MUX_CONNECT);
  other.deactivate();
  EXPECT_EQ(HwMux::instance()->model().find(kOut)->want, SwitchModel::State::Routed(a));
  advance(HwMux::kRetryMs);
  EXPECT_EQ(sw(kOut), "from " + std::to_string(a));
  EXPECT_EQ(sw(a), "from " + std::to_string(kOut));
  EXPECT_FALSE(open(b)) << "given back once no route of it stands";
  advance(SwitchRoutes::kGraceMs);
  EXPECT_EQ(sw(kOut), "from " + std::to_string(a));
  hdlc.deactivate();
  advance(SwitchRoutes::kGraceMs);
  EXPECT_EQ(sw(kOut), "off");
}

// A slot goes while the switch refuses to set its output idle: the route stays in the book,
// is tried again until it holds, and the channel that fed it is no later owner's meanwhile.
TEST_F(SwitchReleaseTest, ARouteWhoseSlotWentLeavesTheBookOnlyOnceTheSwitchTookItDown) {
  HwMux& mux = *HwMux::instance();
  int fd = -1;
  const int c = other_owner(fd);
  ASSERT_GE(c, 0);
  ASSERT_TRUE(mux.Connect(c, kOut));
  SwitchRoutes::made(c, kOut);
  sim().fail_next(Device::hal, EBUSY, 1, board::hal::MUX_WRITE);
  ASSERT_FALSE(mux.Disconnect(kOut));
  SwitchRoutes::unwanted(kOut);
  EXPECT_EQ(SwitchRoutes::releasing(), 1u);
  // Its owner ends with nothing left to send: the channel is kept while the route stands.
  SwitchRoutes::release(c, fd, false);
  EXPECT_EQ(SwitchRoutes::holding(), 1u);
  int next_fd = -1;
  const int next = other_owner(next_fd);
  EXPECT_NE(next, c) << "a new owner's frames would reach the old output";
  board::close(next_fd);
  sim().fail_next(Device::hal, EBUSY, 1, board::hal::MUX_WRITE);
  advance(SwitchRoutes::kRetryMs);
  EXPECT_EQ(sw(kOut), "from " + std::to_string(c)) << "refused again";
  EXPECT_TRUE(open(c));
  advance(2 * SwitchRoutes::kRetryMs);
  EXPECT_EQ(sim().state().mux.entry(kOut).kind, SimSwitch::Entry::constant) << "idle, as a disconnect leaves it";
  EXPECT_FALSE(open(c));
  EXPECT_EQ(SwitchRoutes::releasing(), 0u);
  EXPECT_EQ(SwitchRoutes::holding(), 0u);

  // A channel given up by its owner: its output disabled whether or not a route was noted,
  // the descriptor kept until that holds.
  const int d = other_owner(fd);
  ASSERT_TRUE(mux.Connect(300, d));
  sim().fail_next(Device::hal, EBUSY, 1, board::hal::MUX_DISABLE);
  EXPECT_FALSE(SwitchRoutes::give_up(d, fd));
  EXPECT_TRUE(open(d));
  advance(SwitchRoutes::kRetryMs);
  EXPECT_EQ(sim().state().mux.entry(d).kind, SimSwitch::Entry::disabled);
  EXPECT_FALSE(open(d));
  EXPECT_TRUE(SwitchRoutes::give_up(d, -1)) << "nothing refused: done at once";
}

// The board takes a kept channel back during its grace (the descriptor hung up): the number may
// go to the next owner at once, so its grace ends at once. And a channel that allocate hands
// out is claimed: what its old routes carried for a holder outside the daemon goes before the
// new owner sends anything.
TEST_F(SwitchReleaseTest, AChannelTakenBackOrHandedOutEndsItsGraceAtOnce) {
  auto allocate = [](int& fd) { return other_owner(fd, true); };
  const int c = activate();
  hdlc.deactivate();
  ASSERT_EQ(SwitchRoutes::holding(), 1u);
  ASSERT_EQ(sw(kOut), "from " + std::to_string(c));
  ASSERT_TRUE(sim().hangup_channel(c));
  int fd = -1;
  const int next = allocate(fd);
  ASSERT_GE(next, 0);
  EXPECT_EQ(sw(kOut), "off") << "channel " << c << " taken back, " << next << " handed out";
  EXPECT_EQ(SwitchRoutes::holding(), 0u);
  EXPECT_EQ(SwitchRoutes::releasing(), 0u);
  board::close(fd);

  // Without a request for a channel: the loop notices the hang-up on its next pass.
  const int e = activate();
  hdlc.deactivate();
  ASSERT_EQ(sw(kOut), "from " + std::to_string(e));
  ASSERT_TRUE(sim().hangup_channel(e));
  pass(2);
  EXPECT_EQ(sw(kOut), "off");
  EXPECT_EQ(SwitchRoutes::holding(), 0u);

  HwMux& mux = *HwMux::instance();
  const int d = other_owner(fd);
  ASSERT_TRUE(mux.Connect(d, kOut));
  SwitchRoutes::made(d, kOut);
  SwitchRoutes::release(d, SwitchRoutes::kHeldElsewhere);
  EXPECT_EQ(sw(kOut), "from " + std::to_string(d)) << "the grace, while its holder keeps it";
  board::close(fd);
  pass(2);
  ASSERT_EQ(allocate(fd), d);
  EXPECT_EQ(sw(kOut), "off");
  EXPECT_EQ(SwitchRoutes::releasing(), 0u);
  board::close(fd);
}

}  // namespace
