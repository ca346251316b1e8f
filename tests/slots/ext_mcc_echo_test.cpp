// Ext, MCC and echo slots on the simulated board: an ext slot's receive side follows its
// activation, an MCC slot passes user data both ways on its controller channel (and says when
// a write fails), and echo slots exist only on buses marked present.
#include <gtest/gtest.h>

#include "board/hal.h"
#include "board/mcc.h"
#include "hardware/HDLC.h"
#include "hardware/HwMux.h"
#include "hardware/SwitchRoutes.h"
#include "slots/EchoFactory.h"
#include "slots/ExtFactory.h"
#include "slots/MccFactory.h"
#include "slots/MccSlot.h"
#include "tests/slots/MediaFixture.h"

namespace {

using namespace mediatest;

auto ext(int tx, int rx) {
  return [=](LGCP::CreateParams& p) {
    LGCP::ExtParams& e = p.select_ext();
    e.set_transmitter(tx);
    e.set_receiver(rx);
  };
}
auto mcc(LGCP::MccType::NamedNumber type, LGCP::MccMode::NamedNumber mode = LGCP::MccMode::standard) {
  return [=](LGCP::CreateParams& p) {
    LGCP::MccParams& m = p.select_mcc();
    m.set_type(type);
    m.set_mode(mode);
  };
}
auto echo(int bus, int channel) {
  return [=](LGCP::CreateParams& p) {
    LGCP::EchoParams& e = p.select_echo();
    e.set_bus(bus);
    e.set_channel(channel);
  };
}

class SmallSlotsTest : public MediaTest {
 protected:
  int activate() {
    LGCP::Command c;
    c.select_activate().select_empty();
    return send(c);
  }
  std::string sw(int channel) {
    const auto& e = sim().state().mux.entry(channel);
    using K = board::sim::SimSwitch::Entry;
    if (e.kind == K::connected) return "from " + std::to_string(e.source);
    return e.kind == K::constant ? "idle" : "disabled";
  }
  ExtFactory extFactory;
  MccFactory mccFactory;
};

TEST_F(SmallSlotsTest, AnExtSlotTakesAnInputOnlyWhileActivated) {
  const int rx = HwMux::kFirstOutput + 5;
  ASSERT_EQ(create(ext(30, rx)), hwtest::kSuccess);
  ASSERT_EQ(create(ext(31, HwMux::kFirstOutput + 6), 4), hwtest::kSuccess);
  auto signals = ctl.signals();
  ASSERT_EQ(signals.size(), 2u);
  EXPECT_TRUE(signals[0].is_transmitter() && signals[0].get_transmitter().get_active() == 30);

  EXPECT_EQ(connect(4, 3), LGCP::ErrorCause::connectFail);
  ASSERT_EQ(activate(), hwtest::kSuccess);
  EXPECT_EQ(sw(rx), "idle") << "activation puts the receive channel to idle";
  signals = ctl.signals();
  ASSERT_EQ(signals.size(), 1u);
  EXPECT_TRUE(signals[0].is_receiver() && signals[0].get_receiver().get_active() == rx);
  ASSERT_EQ(connect(4, 3), hwtest::kSuccess);
  EXPECT_EQ(sw(rx), "from 31");

  ASSERT_EQ(simple(&LGCP::Command::set_deactivate), hwtest::kSuccess);
  EXPECT_EQ(sw(rx), "disabled");
  EXPECT_EQ(Slots::instance()->Find(3)->source, nullptr) << "going inactive takes the input off its source";
  ASSERT_EQ(activate(), hwtest::kSuccess);
  ASSERT_EQ(simple(&LGCP::Command::set_destroy), hwtest::kSuccess);
  EXPECT_EQ(sw(rx), "disabled");
}

TEST_F(SmallSlotsTest, AnMccSlotPassesUserDataBothWays) {
  ASSERT_EQ(create(mcc(LGCP::MccType::bri)), hwtest::kSuccess) << log.all();
  auto alloc = requests(Device::mcc, board::mcc::MCC_ALLOCATE);
  ASSERT_EQ(alloc.size(), 1u);
  EXPECT_EQ(alloc[0].bytes(), (std::vector<uint8_t>{0, 0, 0, 1, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1}));
  auto* slot = dynamic_cast<MccSlot*>(Slots::instance()->Find(3));
  ASSERT_NE(slot, nullptr);
  const int channel = slot->timeslot;
  EXPECT_GE(channel, board::sim::SimBoard::kFirstHdlcChannel);
  EXPECT_EQ(slot->IGetTransmitChannel(), channel);
  EXPECT_TRUE(ctl.signals().empty()) << "an MCC slot reports no stream";

  LGCP::Command data;
  data.set_userData(std::string("\x01\x02\x03", 3));
  ASSERT_EQ(send(data), hwtest::kSuccess);
  EXPECT_EQ(sim().frames_sent(channel), (std::vector<board::sim::Bytes>{{1, 2, 3}}));

  const std::vector<uint8_t> big(1024, 0x5A);
  ASSERT_TRUE(sim().hdlc_frame(channel, std::vector<uint8_t>{9, 8}));
  ASSERT_TRUE(sim().hdlc_frame(channel, big));
  pass();
  auto signals = ctl.signals();
  ASSERT_EQ(signals.size(), 2u);
  ASSERT_TRUE(signals[0].is_userData());
  EXPECT_EQ(static_cast<const std::string&>(signals[0].get_userData()), std::string("\x09\x08", 2));
  EXPECT_EQ(signals[1].get_userData().size(), 1024u);

  // A write the channel does not take is answered as a failure.
  sim().stall(channel, true);
  LGCP::Command flood;
  flood.set_userData(std::string(15000, 'x'));
  int refused = 0;
  for (int i = 0; i < 64 && refused == 0; ++i) refused += send(flood) == LGCP::ErrorCause::unsupported;
  EXPECT_EQ(refused, 1);
  sim().stall(channel, false);

  // The end of the channel ends the reader: no signal, and no watch served on every pass.
  ASSERT_TRUE(sim().hangup_channel(channel));
  pass(5);
  EXPECT_TRUE(ctl.signals().empty());
  EXPECT_EQ(slot->event.fd(), -1) << "no watch served on every pass";
  EXPECT_EQ(send(data), LGCP::ErrorCause::unsupported);
}

TEST_F(SmallSlotsTest, MccCreatesAllocateTheirKindAndReportTheFreeChannels) {
  ASSERT_EQ(create(mcc(LGCP::MccType::transparent, LGCP::MccMode::ss7)), hwtest::kSuccess);
  EXPECT_EQ(requests(Device::mcc, board::mcc::MCC_ALLOCATE).back().arg("type"), 3) << "ss7 whatever the type";
  ASSERT_EQ(create(mcc(LGCP::MccType::transparent), 4), hwtest::kSuccess);
  EXPECT_EQ(requests(Device::mcc, board::mcc::MCC_ALLOCATE).back().arg("type"), 2);

  sim().state().mcc_data_capacity = 10;
  sim().state().mcc_bri_capacity = 4;
  sim().state().mcc_transparent_capacity = 6;
  LGCP::Resources r = query();
  EXPECT_EQ((std::vector<int64_t>{r.get_mcc_data(), r.get_mcc_bri(), r.get_mcc_trans()}), (std::vector<int64_t>{9, 4, 5}));

  sim().fail_next(Device::mcc, EIO);
  r = query();
  EXPECT_EQ(r.get_mcc_data(), 0);
  sim().fail_open(Device::mcc, ENODEV);
  EXPECT_EQ(create(mcc(LGCP::MccType::data), 5), LGCP::ErrorCause::insufficientResources);
  sim().fail_open(Device::mcc, 0);
  sim().state().mcc_bri_capacity = 0;
  EXPECT_EQ(create(mcc(LGCP::MccType::bri), 5), LGCP::ErrorCause::insufficientResources);
  sim().state().mcc_bri_capacity = 8;
  sim().state().mcc_data_capacity = 32;
  sim().state().mcc_transparent_capacity = 16;
}

// The last free channel is kept for a released link's last frames: an MCC create still gets
// it, and the old output is taken down first.
TEST_F(SmallSlotsTest, AnMccCreateTakesAChannelKeptForTheGraceWhenNoOtherIsFree) {
  constexpr int kOut = HwMux::kFirstOutput + 40;
  sim().state().mcc_data_capacity = 1;
  HDLC link;
  link.params.tdm = kOut;
  link.params.mode = HDLC::mode_isdn;
  ASSERT_TRUE(link.activate());
  const std::string fed = sw(kOut);
  link.deactivate();
  ASSERT_EQ(SwitchRoutes::holding(), 1u);
  EXPECT_EQ(create(mcc(LGCP::MccType::data)), hwtest::kSuccess);
  EXPECT_NE(fed, "disabled");
  EXPECT_EQ(sw(kOut), "disabled");
  EXPECT_EQ(SwitchRoutes::holding(), 0u);
  sim().state().mcc_data_capacity = 32;
}

TEST_F(SmallSlotsTest, EchoSlotsExistOnlyOnBusesMarkedPresent) {
  EchoFactory factory;
  EXPECT_EQ(create(echo(0, 1)), LGCP::ErrorCause::insufficientResources);
  EXPECT_EQ(query().get_echoBus().size(), 0u);
  EXPECT_TRUE(sim().requests(Device::voice).empty()) << "nothing asked of the voice driver";

  factory.present[0] = factory.present[2] = factory.present[15] = true;
  const LGCP::Resources r = query();
  std::vector<int64_t> buses;
  for (const auto& b : r.get_echoBus()) buses.push_back(b);
  EXPECT_EQ(buses, (std::vector<int64_t>{0, 2, 15}));
  ASSERT_EQ(create(echo(2, 7)), hwtest::kSuccess);
  Slot* s = Slots::instance()->Find(3);
  EXPECT_EQ(s->IGetTransmitChannel(), 71);
  EXPECT_EQ(s->IGetReceiveChannel(), 71);
  auto signals = ctl.signals();
  ASSERT_EQ(signals.size(), 2u);
  EXPECT_TRUE(signals[0].is_transmitter() && signals[1].is_receiver());
  for (int bus : {1, 16, -1}) EXPECT_EQ(create(echo(bus, 7), 4), LGCP::ErrorCause::insufficientResources) << bus;
}

}  // namespace
