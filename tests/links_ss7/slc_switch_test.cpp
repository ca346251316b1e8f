// Two SS7 links on two HDLC controller channels of the simulated board, wired to each other
// through the TDM switch and a pair of cables: alignment and messages on real channels.
#include <csignal>

#include "LinkHarness.h"
#include "board/sim/SimBoard.h"
#include "hardware/HwMux.h"

namespace {

using namespace ss7test;
using SS7::SLC;

class SwitchTest : public LinkTest {
 protected:
  void SetUp() override {
    std::signal(SIGPIPE, SIG_IGN);
    HwMux::instance();
    for (End* e : {&a, &b}) {
      e->link->hdlc = &e->channel;
      e->channel.notify = e->link;
      e->link->emergency = true;
    }
    a.channel.params.tdm = 8192 + 7;
    b.channel.params.tdm = 8192 + 9;
    ASSERT_TRUE(a.channel.activate());
    ASSERT_TRUE(b.channel.activate());
    sim().state().mux.cable(8192 + 7, 8192 + 9);
    sim().state().mux.cable(8192 + 9, 8192 + 7);
    settle();
  }
  void TearDown() override {
    sim().state().mux.uncable(8192 + 7);
    sim().state().mux.uncable(8192 + 9);
    for (End* e : {&a, &b}) {
      e->channel.unbind();
      e->channel.deactivate();
    }
  }
  static board::sim::SimBoard& sim() { return board::sim::SimBoard::instance(); }
  // Lets the board carry what was written until nothing moves any more.
  void settle() {
    for (int i = 0; i < 200; ++i) {  // a pass reads one frame per channel
      sim().service();
      multiplexer.run_once(0);
    }
  }

  struct End : ss7test::End {
    HDLC channel;
  };
  End a, b;
};

TEST_F(SwitchTest, LinksAlignAndExchangeMessagesThroughTheSwitch) {
  a.link->local_activate();
  settle();
  ASSERT_EQ(b.link->state(), SLC::State::proving);
  advance(500);
  settle();
  ASSERT_EQ(a.link->state(), SLC::State::worked);
  ASSERT_EQ(b.link->state(), SLC::State::worked);
  for (unsigned i = 0; i < 20; ++i) {
    a.send({0x83, uint8_t(i), 1});
    b.send({0x83, uint8_t(i), 2});
  }
  settle();
  ASSERT_EQ(b.up.received.size(), 20u);
  ASSERT_EQ(a.up.received.size(), 20u);
  EXPECT_EQ(b.up.received[19], (Bytes{0x83, 19, 1}));
  EXPECT_EQ(a.up.received[19], (Bytes{0x83, 19, 2}));
  EXPECT_EQ(a.link->rtb_count(), 0);
  EXPECT_EQ(a.channel.rxSU, a.link->statistics()->su_received);

  // Taking the cable away loses alignment through T7; putting it back, both realign.
  sim().state().mux.uncable(8192 + 7);
  a.send({0x83, 0xEE, 0xEE});
  settle();
  advance(12000);
  settle();
  EXPECT_EQ(a.link->state(), SLC::State::idle);
  sim().state().mux.cable(8192 + 7, 8192 + 9);
  a.link->local_activate();
  settle();
  b.link->local_activate();
  settle();
  advance(500);
  settle();
  ASSERT_EQ(a.link->state(), SLC::State::worked);
  ASSERT_EQ(b.link->state(), SLC::State::worked);
}

}  // namespace
