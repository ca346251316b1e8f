// HDLC data-channel slot: framing and sequence numbers of the packages it sends, its bounded
// send queue, the batches it returns (on the flush timer or at once), short frames, and its
// statistics period.
#include "SignallingFixture.h"
#include "hardware/SwitchRoutes.h"
#include "slots/HdlcSlot.h"
#include "slots/PstnSlot.h"

namespace {

using namespace slotstest;
using Strings = std::vector<std::string>;
using R = LGCP::IoctlResponse;

class HdlcSlotTest : public SignallingTest {
 protected:
  // An HDLC slot 20 (address 0x1234) connected to a probe slot 21 on TDM channel 300.
  HdlcSlot& connected() {
    send(create_probe(1, 21, 300, 300));
    send(create_hdlc(2, 20, 3, 0x1234));
    before = open_channels();
    send(connect_cmd(3, 20, 21));
    channel = opened_since(before);
    EXPECT_GE(channel, 0);
    seen();
    return *dynamic_cast<HdlcSlot*>(slots.Find(20));
  }
  std::vector<std::string> frames() {
    settle();
    std::vector<std::string> out;
    for (const auto& f : sim().frames_sent(channel)) out.emplace_back(f.begin(), f.end());
    return out;
  }
  void frame_in(const Bytes& f) {
    sim().hdlc_frame(channel, f);
    settle();
  }
  static std::vector<std::string> bodies(const R& r) {
    std::vector<std::string> out;
    for (const auto& p : r.get_hdlcPackages()) out.push_back(std::string(p.get_body()));
    return out;
  }

  std::vector<int> before;
  int channel = -1;
};

TEST_F(HdlcSlotTest, PackagesAreFramedWithAddressAndASequenceNumberThatWrapsAfterEight) {
  HdlcSlot& s = connected();
  EXPECT_EQ(s.channel().params.tdm, 300);
  EXPECT_EQ(s.channel().params.mode, HDLC::mode_isdn);
  EXPECT_EQ(sw(300), "from " + std::to_string(channel));
  settle();
  send(hdlc_packages(4, 20, {"a", "b", "c", "d", "e", "f", "g", "h", "i"}));
  EXPECT_EQ(seen().answers, Strings{"success"}) << "queued packages are answered with success";
  auto f = frames();
  ASSERT_EQ(f.size(), 9u);
  for (unsigned i = 0; i < 9; ++i) {
    EXPECT_EQ(f[i].substr(0, 2), "\x12\x34");
    EXPECT_EQ(static_cast<uint8_t>(f[i][2]), (i % 8) << 5) << i;
    EXPECT_EQ(f[i].substr(3), std::string(1, char('a' + i)));
  }
  // An ioctl of any other kind is not this slot's.
  send(slot_command(5, 20, [](LGCP::Command& c) { c.select_ioctl().select_ss7RqBSN(); }));
  EXPECT_EQ(seen().answers, Strings{"error 6"});
  send(simple(6, 20, LGCP::Command::e_destroy));
  settle();
  EXPECT_FALSE(sim().hdlc_channel(channel)->open);
  EXPECT_NE(sw(300), "from " + std::to_string(channel));
}

TEST_F(HdlcSlotTest, TheHundredAndTwentyFirstPackageIsLostCountedAndReportedTheRestGoOutInOrder) {
  HdlcSlot& s = connected();  // the channel has not said it takes frames yet
  std::vector<std::string> many;
  for (int i = 0; i < 121; ++i) many.push_back(std::to_string(i));
  send(hdlc_packages(4, 20, many));
  EXPECT_EQ(seen().answers, Strings{"error 6"});
  EXPECT_EQ(s.queued(), 120u);
  EXPECT_EQ(s.queueDrops, 1u);
  auto f = frames();
  ASSERT_EQ(f.size(), 120u);
  for (int i = 0; i < 120; ++i) EXPECT_EQ(f[static_cast<size_t>(i)].substr(3), std::to_string(i));
  EXPECT_EQ(s.queued(), 0u);
  s.OnUpdateTimer();
  auto info = seen().of(R::e_hdlcLinkInfo);
  ASSERT_EQ(info.size(), 1u);
  EXPECT_EQ(info[0].get_hdlcLinkInfo().get_txSU().getValue(), 120);
  EXPECT_EQ(info[0].get_hdlcLinkInfo().get_txOverflow().getValue(), 0) << "the slot's own drops are not the channel's";
}

TEST_F(HdlcSlotTest, FramesAnnouncingMoreWaitForTheFlushTimerOrTheLastOfTheirBatchShortOnesAreDropped) {
  HdlcSlot& s = connected();
  frame_in({0x12, 0x34, 0x00, 0x00, 0x80});
  EXPECT_TRUE(seen().of(R::e_hdlcPackages).empty());
  after(99);
  EXPECT_TRUE(seen().of(R::e_hdlcPackages).empty());
  after(1);
  auto alone = seen().of(R::e_hdlcPackages);
  ASSERT_EQ(alone.size(), 1u);
  EXPECT_EQ(bodies(alone[0]), (Strings{std::string("\x00\x80", 2)}));

  // Three announcing more, one for another address, then the last: one batch, at once.
  for (uint8_t n = 1; n <= 3; ++n) frame_in({0x12, 0x34, 0x20, n, 0x80});
  frame_in({0x43, 0x21, 0x00, 9, 0x80});
  frame_in({0x12, 0x34, 0x40, 4, 0x00});
  auto batch = seen().of(R::e_hdlcPackages);
  ASSERT_EQ(batch.size(), 1u);
  EXPECT_EQ(bodies(batch[0]).size(), 4u);
  EXPECT_EQ(bodies(batch[0])[3], std::string("\x04\x00", 2));
  after(200);
  EXPECT_TRUE(seen().of(R::e_hdlcPackages).empty()) << "the flush timer went with the batch";
  EXPECT_EQ(s.receiveSeq, 2);

  // Short frames are counted and dropped; frames without the more octet end their batch.
  frame_in({0x12});
  frame_in({0x12, 0x34});
  EXPECT_EQ(s.rxShort, 2u);
  EXPECT_TRUE(seen().of(R::e_hdlcPackages).empty());
  // Header only, and header with one body octet: delivered at once, as last of their batch.
  frame_in({0x12, 0x34, 0xE0});
  frame_in({0x12, 0x34, 0xA0, 0xFF});
  auto got = seen().of(R::e_hdlcPackages);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(bodies(got[0]), Strings{""});
  EXPECT_EQ(bodies(got[1]), Strings{"\xFF"});
  // What we send next acknowledges the last sequence number received (5).
  send(hdlc_packages(4, 20, {"x"}));
  auto f = frames();
  ASSERT_FALSE(f.empty());
  EXPECT_EQ(static_cast<uint8_t>(f.back()[2]), 0x05);
}

TEST_F(HdlcSlotTest, StatisticsEveryThreeSecondsAndOnDeactivate) {
  connected();
  after(HdlcSlot::kUpdateMs);
  EXPECT_EQ(seen().of(R::e_hdlcLinkInfo).size(), 1u);
  after(1000);
  send(simple(4, 20, LGCP::Command::e_deactivate));
  auto s = seen();
  EXPECT_EQ(s.answers, Strings{"success"});
  EXPECT_EQ(s.of(R::e_hdlcLinkInfo).size(), 1u);
  after(HdlcSlot::kUpdateMs - 1);
  EXPECT_TRUE(seen().of(R::e_hdlcLinkInfo).empty()) << "deactivate started a fresh period";
  after(1);
  EXPECT_EQ(seen().of(R::e_hdlcLinkInfo).size(), 1u);
}

TEST_F(HdlcSlotTest, AChannelThatCannotBeActivatedOrHasNoPeerChannelIsReportedDeactivated) {
  send(create_probe(1, 21, 300, 300));
  send(create_hdlc(2, 20, 3, 1));
  send(create_trunk(3, 10, 0, 16));
  send(create_pstn_isdn(4, 11, false, 1, false));
  seen();
  sim().fail_open(board::sim::Device::mcc, EIO);
  send(connect_cmd(5, 20, 21));
  send(connect_cmd(6, 10, 11));
  sim().fail_open(board::sim::Device::mcc, 0);
  // The connect made no path: refused, and the link says it is down.
  auto got = seen();
  EXPECT_EQ(got.answers, (Strings{"error 9", "error 9"}));
  EXPECT_EQ(std::count(got.other.begin(), got.other.end(), LGCP::Signal::e_deactivated), 2);

  // A peer without channel leaves the channel closed: an activate is refused and says
  // deactivated, and packages are refused rather than queued for no channel.
  send(create_probe(7, 22, -1, -1));
  send(create_hdlc(8, 23, 1, 7));
  auto before = open_channels();
  send(connect_cmd(9, 23, 22));
  EXPECT_EQ(open_channels(), before);
  seen();
  send(slot_command(10, 23, [](LGCP::Command& c) { c.select_activate().select_empty(); }));
  got = seen();
  EXPECT_EQ(got.answers, Strings{"error 6"});
  EXPECT_EQ(got.other, std::vector<int>{LGCP::Signal::e_deactivated});
  EXPECT_EQ(open_channels(), before);
  send(hdlc_packages(11, 23, {"x"}));
  EXPECT_EQ(seen().answers, Strings{"error 6"});
}

// The output a disconnect took from the slot stays idle, as any disconnected output: the
// channel's release after it does not switch it off.
TEST_F(HdlcSlotTest, TheSinkItWasDisconnectedFromStaysIdle) {
  connected();
  ASSERT_EQ(sw(300), "from " + std::to_string(channel));
  send(simple(4, 21, LGCP::Command::e_disconnect));
  EXPECT_EQ(sw(300), "idle");
  after(SwitchRoutes::kGraceMs);
  EXPECT_EQ(sw(300), "idle");
}

TEST_F(SignallingTest, ChannelsThatEndAreLeftOnceBySlotsThatReadThemThroughTheHdlcChannel) {
  send(create_probe(1, 21, 300, 300));
  send(create_hdlc(2, 20, 3, 0x1234));
  send(create_trunk(3, 10, 0, 16));
  send(create_pstn_isdn(4, 11, false, 1, false));
  auto before = open_channels();
  send(connect_cmd(5, 20, 21));
  send(connect_cmd(6, 10, 11));
  EXPECT_EQ(open_channels().size(), before.size() + 2);
  settle();
  sim().hangup(board::sim::Device::mcc);
  settle(20);
  EXPECT_EQ(open_channels(), before);
  const std::string log = streams.log.str();
  auto first = log.find("HdlcSlot[2/*]: on_hdlc_error");
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_EQ(log.find("on_hdlc_error", first + 30), std::string::npos) << log;
  EXPECT_FALSE(dynamic_cast<HdlcSlot*>(slots.Find(20))->channel().is_open());
  EXPECT_FALSE(dynamic_cast<PstnSlot*>(slots.Find(11))->hdlc->is_open());
}

}  // namespace
