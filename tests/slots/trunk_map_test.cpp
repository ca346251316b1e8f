// Trunk, BRI trunk and map slots: their channels, the streams they report after creation, one
// slot per channel, the switch paths they make and the outputs they disable.
#include "SlotsFixture.h"
#include "slots/MapFactory.h"
#include "slots/MapSlot.h"
#include "slots/TrunkFactory.h"
#include "slots/TrunkSlot.h"

namespace {

using namespace slotstest;
using Strings = std::vector<std::string>;
using EC = LGCP::ErrorCause;
using C = LGCP::Command;

LGCP::Message create_map(int seq, unsigned slot, int txBus, int txCh, int rxBus, int rxCh) {
  return slot_command(seq, slot, [&](LGCP::Command& c) {
    auto& m = c.select_create().select_map();
    if (txBus >= 0) {
      m.include_transmitter().set_bus(unsigned(txBus));
      m.get_transmitter().set_channel(unsigned(txCh));
    }
    if (rxBus >= 0) {
      m.include_receiver().set_bus(unsigned(rxBus));
      m.get_receiver().set_channel(unsigned(rxCh));
    }
  });
}

class TrunkMapTest : public SlotsTest {
 protected:
  void SetUp() override {
    SlotsTest::SetUp();
    TrunkFactory::BuildAll();
  }
  MapFactory map;
};

TEST_F(TrunkMapTest, TrunkSlotsTakeTheirTrunksChannelAndStreamAfterTheAnswer) {
  send(create_trunk(1, 10, 1, 5));
  EXPECT_EQ(texts(), (Strings{"success", "transmitter active 37", "receiver active 37"}));
  Slot& s = *slots.Find(10);
  EXPECT_EQ(put(s), "10:trunk");
  EXPECT_EQ(s.GetTrunk(), 1);
  EXPECT_EQ(s.GetTrunkTimeSlot(), 5);

  send(create_trunk(2, 11, 2, 3, true));
  EXPECT_EQ(texts(), (Strings{"success", "transmitter active 11", "receiver active 11"}));
  Slot& bri = *slots.Find(11);
  EXPECT_EQ(put(bri), "11:trunkBRI");

  send(create_trunk(3, 12, 4, 0));        // no fifth trunk
  send(create_trunk(4, 12, 2, 4, true));  // a BRI line has four channels
  send(create_trunk(5, 12, 8, 0, true));  // and there are eight lines
  EXPECT_EQ(texts(), (Strings(3, "error " + std::to_string(EC::insufficientResources))));
}

TEST_F(TrunkMapTest, ASecondSlotOnATimeslotReplacesTheFirst) {
  send(create_trunk(1, 10, 1, 5));
  send(create_trunk(2, 20, 0, 1, true));
  texts();
  send(create_trunk(3, 11, 1, 5));
  EXPECT_EQ(slots.Find(10), nullptr);
  EXPECT_EQ(texts(), (Strings{"success", "transmitter active 37", "receiver active 37"}));
  // BRI line 0 and E1 trunk 0 share channel numbers, not timeslot entries.
  send(create_trunk(4, 21, 0, 1));
  EXPECT_NE(slots.Find(20), nullptr);
  // Each factory forgets its released slot.
  send(simple(5, 11, C::e_destroy));
  send(create_trunk(6, 12, 1, 5));
  EXPECT_NE(slots.Find(12), nullptr);
  EXPECT_EQ(streams.err.str().find("old slot 11"), std::string::npos);
}

TEST_F(TrunkMapTest, MapSlotsNameBusChannelsAndDisableTheirReceiverWhenDestroyed) {
  send(create_map(1, 12, -1, 0, 1, 2));
  EXPECT_EQ(texts(), (Strings{"success", "receiver active 8322"}));
  auto& m = dynamic_cast<MapSlot&>(*slots.Find(12));
  EXPECT_EQ(m.rxChannel, 8322);
  EXPECT_EQ(m.GetRxLogChannel(), 130);
  EXPECT_FALSE(m.IOnOutputStream());
  EXPECT_EQ(put(m), "12:map");

  send(create_trunk(2, 10, 0, 7));
  send(connect_cmd(3, 10, 12));
  send(connect_cmd(4, 12, 10));  // the map slot has no transmitter
  EXPECT_EQ(texts(), (Strings{"success", "transmitter active 7", "receiver active 7", "success",
                              "error " + std::to_string(EC::connectFail)}));
  EXPECT_EQ(sw(8322), "from 7");
  send(simple(5, 12, C::e_destroy));
  EXPECT_EQ(sw(8322), "disabled");
  EXPECT_TRUE(slots.Find(10)->sinks.empty());

  // Both directions: streams in the order receiver, transmitter.
  send(create_map(6, 13, 0, 0, 15, 127));
  EXPECT_EQ(texts(), (Strings{"success", "success", "receiver active 10239", "transmitter active 8192"}));
}

TEST_F(TrunkMapTest, AMapSlotOnAChannelInUseReplacesItsHolder) {
  send(create_map(1, 13, 0, 0, 0, 1));
  send(create_map(2, 14, 0, 2, 0, 2));  // one channel both ways
  texts();
  send(create_map(3, 15, -1, 0, 0, 0));  // 13's transmit channel
  EXPECT_EQ(slots.Find(13), nullptr);
  EXPECT_EQ(map.entries[0], slots.Find(15));
  EXPECT_EQ(map.entries[1], nullptr);
  send(simple(4, 14, C::e_destroy));
  EXPECT_EQ(map.entries[2], nullptr);
}

TEST_F(TrunkMapTest, NumbersOutOfRangeNeverIndexATable) {
  TrunkFactory trunk(0, 0);
  LGCP::CreateParams p;
  auto& t = p.select_trunk();
  t.set_trunk(0);
  t.get_timeslot() = 32u;
  EXPECT_EQ(trunk.NewSlot(p), nullptr);

  LGCP::CreateParams mp;
  auto& m = mp.select_map();
  m.include_receiver().get_bus() = 16u;
  EXPECT_EQ(map.NewSlot(mp), nullptr);
  m.get_receiver().get_bus() = 0u;
  m.get_receiver().get_channel() = unsigned(-5);
  EXPECT_EQ(map.NewSlot(mp), nullptr);
  EXPECT_TRUE(map.slots.empty());
  for (MapSlot* e : map.entries) ASSERT_EQ(e, nullptr);
}

}  // namespace
