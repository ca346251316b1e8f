// ISDN and ATS-QSIG slots: the channel each allocates and the link mode it sets, back-pressure
// of a full driver queue, a reader that stops at the end of its descriptor, controller data
// that does not fit a buffer, and the B channels beside an ATS-QSIG slot.
#include <poll.h>

#include "SignallingFixture.h"
#include "board/dspdata.h"
#include "board/mcc.h"
#include "foundation/Packet.h"
#include "hardware/SwitchRoutes.h"
#include "slots/IsdnSlot.h"

namespace {

using namespace slotstest;
using Strings = std::vector<std::string>;
using board::sim::Device;

IsdnSlot* isdn(unsigned n) { return dynamic_cast<IsdnSlot*>(Slots::instance()->Find(n)); }
using IsdnSlotTest = SignallingTest;

TEST_F(IsdnSlotTest, TheTypeChoosesTheChannelKindAndTheLinkMode) {
  send(create_isdn(1, 30, true, 2, false));
  send(create_isdn(2, 31, false, 3, true));
  EXPECT_EQ(texts(), (Strings{"success", "success"}));
  auto alloc = sim().requests(Device::mcc, board::mcc::MCC_ALLOCATE);
  ASSERT_EQ(alloc.size(), 2u);
  EXPECT_EQ(alloc[0].text(), "MCC_ALLOCATE type=1 rx_packet_size=512 reserved=0 rx_threshold=1 tx_threshold=1 -> 0");
  EXPECT_EQ(alloc[1].args[0], 0);

  IsdnSlot& bri = *isdn(30);
  EXPECT_TRUE(bri.lapd->is_bri());
  EXPECT_EQ(bri.lapd->side, ISDN::Side::user);
  EXPECT_EQ(bri.lapd->id, 2u);
  EXPECT_GE(bri.IGetTransmitChannel(), board::sim::SimBoard::kFirstHdlcChannel);
  EXPECT_EQ(bri.IGetReceiveChannel(), bri.IGetTransmitChannel());
  IsdnSlot& pri = *isdn(31);
  EXPECT_FALSE(pri.lapd->is_bri());
  EXPECT_EQ(pri.lapd->side, ISDN::Side::network);
  EXPECT_NE(pri.channel, bri.channel);

  send(slot_command(3, 30, [](LGCP::Command& c) { c.select_ioctl().select_ss7RqBSN(); }));
  EXPECT_EQ(texts(), Strings{"error 6"});

  // No channel left: the create fails and the link made for it goes.
  sim().fail_next(Device::mcc, ENOSPC);
  send(create_isdn(4, 32, false, 1, false));
  EXPECT_EQ(texts(), Strings{"error 1"});

  // Destroying a slot frees its channel.
  int ch = pri.channel;
  send(simple(5, 31, LGCP::Command::e_destroy));
  settle();
  EXPECT_FALSE(sim().hdlc_channel(ch)->open);
}

TEST_F(IsdnSlotTest, ALinkThatGoesDownReportsItsRecordAndDeactivated) {
  send(create_isdn(1, 30, false, 1, false));
  send(slot_command(2, 30, [](LGCP::Command& c) { c.select_activate().select_empty(); }));
  settle();
  seen();
  send(simple(3, 30, LGCP::Command::e_deactivate));
  auto got = seen();
  EXPECT_EQ(got.answers, Strings{"success"});
  EXPECT_EQ(got.other, std::vector<int>{LGCP::Signal::e_deactivated});
  auto info = got.of(LGCP::IoctlResponse::e_isdnLinkInfo);
  ASSERT_EQ(info.size(), 1u);
  EXPECT_EQ(info[0].get_isdnLinkInfo().get_side().getValue(), ACP::IsdnSide::user);
  EXPECT_EQ(info[0].get_isdnLinkInfo().get_lapdState().getValue(), static_cast<int>(isdn(30)->lapd->full_state().state));
}

TEST_F(IsdnSlotTest, AFullDriverQueueHoldsTheLinkBackUntilTheChannelTakesFramesAgain) {
  send(create_isdn(1, 30, false, 1, false));
  IsdnSlot& s = *isdn(30);
  settle();
  ASSERT_TRUE(s.is_ready());
  ASSERT_TRUE(sim().stall(s.channel, true));
  Packet frame;
  frame.reserve_head(0);
  std::fill_n(frame.put(200), 200, 0x55);
  int written = 0;
  while (s.hdlc_transmit(frame) && written < 100000) ++written;
  EXPECT_FALSE(s.is_ready());
  EXPECT_EQ(s.event.events(), POLLIN | POLLOUT);
  // Meanwhile the link starts: its SABME finds the channel full.
  s.activate();
  settle();
  EXPECT_FALSE(s.is_ready());
  sim().stall(s.channel, false);
  settle(20);
  EXPECT_TRUE(s.is_ready());
  EXPECT_EQ(s.event.events(), POLLIN);
  // The SABME refused meanwhile goes again on the link's timer, now through.
  after(ISDN::LAPD::kT200);
  auto sent = sim().frames_sent(s.channel);
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back(), (Bytes{0x00, 0x01, 0x7F}));
}

TEST_F(IsdnSlotTest, AChannelThatEndsIsLeftOnceInsteadOfWakingTheLoopAgainAndAgain) {
  send(create_isdn(1, 30, false, 1, false));
  texts();
  IsdnSlot& s = *isdn(30);
  settle();
  sim().hangup(Device::mcc);
  settle(20);
  EXPECT_FALSE(s.is_open());
  const std::string err = streams.err.str();
  const std::string line = "isdn-slot[" + std::to_string(s.channel) + "]: channel lost: ";
  auto first = err.find(line);
  ASSERT_NE(first, std::string::npos) << err;
  EXPECT_EQ(err.find(line, first + 1), std::string::npos) << err;
  // A closed channel refuses frames; the slot stays usable for the controller.
  Packet frame;
  frame.reserve_head(0);
  frame.put8(1);
  EXPECT_FALSE(s.hdlc_transmit(frame));
  // The lost channel's number serves a new slot; destroying the old one leaves its routes be.
  const int ch = s.channel;
  send(create_isdn(2, 31, false, 1, false));
  ASSERT_EQ(isdn(31)->channel, ch);
  send(create_trunk(3, 10, 0, 20));
  send(connect_cmd(4, 10, 31));
  send(connect_cmd(5, 31, 10));
  texts();
  send(simple(6, 30, LGCP::Command::e_destroy));
  EXPECT_EQ(texts(), Strings{"success"});
  after(SwitchRoutes::kGraceMs);
  EXPECT_EQ(sw(ch), "from 20");
  EXPECT_EQ(sw(20), "from " + std::to_string(ch));
}

TEST_F(IsdnSlotTest, UserDataGoesToTheLinkAndDataBeyondABufferIsRefused) {
  send(create_isdn(1, 30, false, 1, false));
  texts();
  IsdnSlot& s = *isdn(30);
  send(user_data(2, 30, std::string("\x08\x02\x00\x01\x75", 5)));
  EXPECT_EQ(texts(), Strings{"success"});
  EXPECT_EQ(s.lapd->out_queued(), 1u) << "the link is down: it keeps the message";
  // More than a control frame can carry: straight to the hook.
  EXPECT_FALSE(s.IUserData(std::vector<char>(packet_max_size, 'x')));
  EXPECT_EQ(s.lapd->out_queued(), 1u);
}

TEST_F(IsdnSlotTest, AtsQsigSlotsOpenBChannelsThatCloseWhileTheirSignallingSlotLives) {
  send(create_ats_qsig(1, 40));
  EXPECT_EQ(texts(), Strings{"success"});
  auto* ats = dynamic_cast<AtsQsigSlot*>(slots.Find(40));
  ASSERT_NE(ats, nullptr);
  EXPECT_EQ(ats->lapd->id, static_cast<uint32_t>(ats->channel));

  send(create_ats_qsig_b(2, 41, 40, 1));
  send(create_ats_qsig_b(3, 42, 40, 3));
  send(create_isdn(4, 43, false, 1, false));
  send(create_ats_qsig_b(5, 44, 43, 1));  // not an ATS-QSIG slot
  send(create_ats_qsig_b(6, 44, 41, 1));  // nor is a B slot
  send(create_ats_qsig_b(7, 44, 40, 1));  // already open
  EXPECT_EQ(texts(), (Strings{"success", "success", "success", "error 1", "error 1", "error 1"}));
  auto opened = sim().requests(Device::dspdata, board::dspdata::DSPDATA_OPEN_B);
  ASSERT_GE(opened.size(), 2u);
  EXPECT_EQ(opened[0].args[0], 0) << "subslot 1 is B channel 0";
  Slot& b = *slots.Find(41);
  EXPECT_EQ(b.IGetTransmitChannel(), board::sim::SimDspData::b_channel(ats->channel, 0));

  send(simple(8, 41, LGCP::Command::e_destroy));
  auto closed = sim().requests(Device::dspdata, board::dspdata::DSPDATA_CLOSE_B);
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(closed[0].result, 0);

  // Without its signalling slot a B slot still goes, and says why nothing was closed.
  send(simple(9, 40, LGCP::Command::e_destroy));
  send(simple(10, 42, LGCP::Command::e_destroy));
  EXPECT_EQ(texts(), (Strings{"success", "success", "success"}));
  EXPECT_EQ(sim().requests(Device::dspdata, board::dspdata::DSPDATA_CLOSE_B).size(), 1u);
}

}  // namespace
