// HDLC controller channels: allocation, patching, frames, back-pressure, callbacks that re-enter.
#include <fcntl.h>

#include <cerrno>
#include <functional>

#include "board/board.h"
#include "board/hal.h"
#include "board/mcc.h"
#include "foundation/Packet.h"
#include "hardware/HDLC.h"
#include "hardware/HwMux.h"
#include "hardware/SwitchRoutes.h"
#include "HwDevTest.h"

namespace {

struct Receiver : HDLC::Notify {
  std::vector<Bytes> frames;
  std::vector<int> errors;
  int ready = 0;
  std::function<void(Packet&)> on_receive;
  std::function<void()> on_ready;
  std::function<void()> on_error;

  void on_hdlc_receive(Packet& p) override {
    frames.emplace_back(p.data(), p.data() + p.length());
    if (auto f = on_receive) f(p);  // a copy: the callback may replace itself
  }
  void on_hdlc_error(Cause::Type cause) override {
    errors.push_back(cause);
    if (on_error) on_error();
  }
  void on_hdlc_ready() override {
    ++ready;
    if (auto f = on_ready) f();
  }
};

Packet packet_of(const Bytes& bytes) {
  Packet p;
  p.reserve_head(16);
  for (uint8_t b : bytes) p.put8(b);
  return p;
}

class HdlcTest : public HwDevTest {
 protected:
  void SetUp() override {
    HwDevTest::SetUp();
    HwMux::instance();  // opened before the request log is cleared
    sim().clear_requests();
    hdlc.notify = &rx;
    hdlc.trunk = 2;
    hdlc.params.timeslot = 7;
    hdlc.params.tdm = 8192 + 7;
  }
  void TearDown() override {
    hdlc.deactivate();
    SwitchRoutes::end_grace();  // the next test finds every channel free
    HwDevTest::TearDown();
  }

  // Activates and returns the controller channel (switch numbering) the board gave it.
  int activate() {
    EXPECT_TRUE(hdlc.activate());
    auto t = requests(Device::mcc, board::mcc::MCC_TIMESLOT);
    return t.empty() ? -1 : t.back().result;
  }
  // Activates and lets the first writability report make the channel ready.
  int activate_ready() {
    int c = activate();
    pass();
    EXPECT_TRUE(hdlc.is_ready());
    rx.ready = 0;
    return c;
  }
  bool inject(int channel, const Bytes& frame) { return sim().hdlc_frame(channel, frame); }

  Receiver rx;
  HDLC hdlc;
};

TEST_F(HdlcTest, ActivationAllocatesByModeAndPatchesBothDirections) {
  struct Case {
    int mode;
    uint32_t type;
    int tx_tdm;  // where the controller's output goes
  };
  for (const Case& c :
       {Case{HDLC::mode_ss7, 3, 8192 + 7}, Case{HDLC::mode_isdn, 0, 8192 + 7}, Case{HDLC::mode_bri, 1, 8192 + 200}}) {
    sim().clear_requests();
    hdlc.params.mode = c.mode;
    hdlc.params.tdm_tx = 8192 + 200;
    int controller = activate();
    ASSERT_GE(controller, 0) << c.mode;
    EXPECT_TRUE(hdlc.is_open());
    EXPECT_FALSE(hdlc.is_ready());

    auto alloc = requests(Device::mcc, board::mcc::MCC_ALLOCATE);
    ASSERT_EQ(alloc.size(), 1u);
    EXPECT_EQ(alloc[0].bytes(),
              (Bytes{0, 0, 0, static_cast<uint8_t>(c.type), 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 4}));

    std::vector<std::pair<int64_t, int64_t>> patched;  // (output, source)
    for (const auto& r : requests(Device::hal, board::hal::MUX_CONNECT))
      patched.emplace_back(r.arg("output").value_or(-1), r.arg("source").value_or(-1));
    EXPECT_EQ(patched, (std::vector<std::pair<int64_t, int64_t>>{{c.tx_tdm, controller}, {controller, 8192 + 7}}));

    // Activating again gives up the old channel first.
    activate();
    int open = 0;
    for (const auto& [number, channel] : sim().hdlc_channels()) open += channel.open ? 1 : 0;
    EXPECT_EQ(open, 1);
    hdlc.deactivate();
    EXPECT_FALSE(hdlc.is_open());
    advance(SwitchRoutes::kGraceMs);  // the channel is kept until its output is down
  }
}

TEST_F(HdlcTest, FailedActivationLeavesTheChannelClosedWithItsReason) {
  sim().fail_open(Device::mcc, EACCES);
  EXPECT_FALSE(hdlc.activate());
  sim().fail_open(Device::mcc, 0);
  EXPECT_LINE(err(), "hdlc [2/7]: fail to open MCC device: Permission denied");

  sim().fail_next(Device::mcc, EIO);
  EXPECT_FALSE(hdlc.activate());
  EXPECT_LINE(err(), "hdlc [2/7]: MCC_ALLOCATE fail: Input/output error");

  hdlc.params.mode = 5;  // no controller code for it
  EXPECT_FALSE(hdlc.activate());
  hdlc.params.mode = HDLC::mode_ss7;

  // A switch that refuses the patch fails the activation: the channel would be cut off.
  sim().fail_next(Device::hal, EIO);
  EXPECT_FALSE(hdlc.activate());
  EXPECT_FALSE(hdlc.is_open());
  for (const auto& [number, channel] : sim().hdlc_channels()) EXPECT_FALSE(channel.open) << number;
  hdlc.params.tdm = -1;
  EXPECT_FALSE(hdlc.activate());

  Packet frame = packet_of({1, 2, 3});
  EXPECT_FALSE(hdlc.hdlc_transmit(frame));
  EXPECT_EQ(hdlc.txDiscard, 1u);
  EXPECT_EQ(hdlc.txSU, 0u);
}

TEST_F(HdlcTest, EachReadOrWriteIsOneFrameWithItsBoundariesKept) {
  set_traces("signalling.hdlc = yes");
  int c = activate_ready();
  const Bytes big(packet_max_size, 0x5A);  // the largest frame takes the whole buffer
  ASSERT_TRUE(inject(c, {0x01}));
  ASSERT_TRUE(inject(c, {0x02, 0x03, 0x04}));
  ASSERT_TRUE(inject(c, big));
  // One frame per readiness report; the loop comes back while frames are pending.
  pass();
  ASSERT_EQ(rx.frames.size(), 1u);
  pass(5);
  EXPECT_EQ(rx.frames, (std::vector<Bytes>{{0x01}, {0x02, 0x03, 0x04}, big}));
  EXPECT_EQ(hdlc.rxSU, 3u);
  EXPECT_TRUE(rx.errors.empty());
  EXPECT_EQ(rx.ready, 0);

  Packet a = packet_of({0xAA, 0x01});
  Packet empty = packet_of({});
  Packet b = packet_of({0xBB});
  EXPECT_TRUE(hdlc.hdlc_transmit(a));
  EXPECT_TRUE(hdlc.hdlc_transmit(empty));  // nothing to send
  EXPECT_TRUE(hdlc.hdlc_transmit(b));
  EXPECT_EQ(sim().frames_sent(c), (std::vector<Bytes>{{0xAA, 0x01}, {0xBB}}));
  EXPECT_EQ(hdlc.txSU, 2u);
  EXPECT_LINE(log(), "HDLC[2]: tx AA 01");
  EXPECT_LINE(log(), "HDLC[2]: rx 02 03 04");

  hdlc.deactivate();
  EXPECT_FALSE(hdlc.hdlc_transmit(a));
  EXPECT_EQ(hdlc.txDiscard, 1u);
  // The counters restart with the next activation.
  set_traces("");
  clear_output();
  activate();
  EXPECT_EQ(hdlc.txSU + hdlc.txDiscard + hdlc.rxSU, 0u);
  EXPECT_EQ(log().find("HDLC["), std::string::npos);
}

TEST_F(HdlcTest, FramesCrossTheSwitchFromOneChannelToAnother) {
  Receiver far;
  HDLC other;
  other.notify = &far;
  other.params.tdm = 8192 + 9;
  ASSERT_TRUE(other.activate());
  activate_ready();
  sim().state().mux.cable(8192 + 7, 8192 + 9);  // bus output 7 wired to bus input 9
  Packet frame = packet_of({0x01, 0x03, 0x7F});
  ASSERT_TRUE(hdlc.hdlc_transmit(frame));
  sim().service();
  pass(2);
  EXPECT_EQ(far.frames, std::vector<Bytes>{(Bytes{0x01, 0x03, 0x7F})});
  EXPECT_TRUE(rx.frames.empty());
  sim().state().mux.uncable(8192 + 7);
}

// A released channel's routes: its input goes at once; the output it fed stays for the grace
// period, so that the frames it was handed last still leave, and goes earlier when the
// channel is patched onto another output, unless another source was patched onto it since.
TEST_F(HdlcTest, AReleasedChannelLeavesNoRouteAndItsLastFramesLeaveFirst) {
  const int out = 8192 + 7;
  const auto from = [](int source) { return "from " + std::to_string(source); };
  const auto sw = [&](int channel) {
    const auto& e = sim().state().mux.entry(channel);
    return e.kind == board::sim::SimSwitch::Entry::connected ? from(e.source) : std::string("off");
  };
  Receiver far;
  HDLC listener;  // a far end on the timeslot's output, through a cable
  listener.notify = &far;
  listener.params.tdm = 8192 + 30;
  ASSERT_TRUE(listener.activate());
  sim().state().mux.cable(out, 8192 + 30);

  int c = activate_ready();
  ASSERT_EQ(sw(c), from(out));
  Packet last = packet_of({0x02, 0x01, 0x53});
  ASSERT_TRUE(hdlc.hdlc_transmit(last));
  hdlc.release_switch();  // the board takes the frame from the channel later
  EXPECT_EQ(sw(c), "off");
  EXPECT_EQ(sw(out), from(c));
  sim().service();
  pass(2);
  EXPECT_EQ(far.frames, std::vector<Bytes>{(Bytes{0x02, 0x01, 0x53})});
  hdlc.deactivate();
  advance(SwitchRoutes::kGraceMs - 1);
  EXPECT_EQ(sw(out), from(c));
  advance(1);
  EXPECT_EQ(sw(out), "off");
  EXPECT_EQ(SwitchRoutes::releasing(), 0u);

  // No other owner is given the channel while its old output stands: what it sends could
  // reach the old timeslot.
  ASSERT_EQ(activate(), c);
  hdlc.deactivate();
  HDLC next;
  next.params.tdm = 8192 + 9;
  ASSERT_TRUE(next.activate());
  const int d = requests(Device::mcc, board::mcc::MCC_TIMESLOT).back().result;
  EXPECT_NE(d, c);
  ASSERT_EQ(sw(8192 + 9), from(d));
  EXPECT_EQ(sw(out), from(c));
  EXPECT_TRUE(sim().hdlc_channel(c)->open);
  advance(SwitchRoutes::kGraceMs);
  EXPECT_EQ(sw(out), "off");
  EXPECT_FALSE(sim().hdlc_channel(c)->open);
  EXPECT_EQ(SwitchRoutes::releasing(), 0u);
  EXPECT_EQ(SwitchRoutes::holding(), 0u);

  // An output another source was patched onto since is left to it.
  next.deactivate();
  EXPECT_EQ(sw(d), "off");
  HwMux::instance()->Connect(400, 8192 + 9);
  SwitchRoutes::made(400, 8192 + 9);
  advance(SwitchRoutes::kGraceMs);
  EXPECT_EQ(sw(8192 + 9), from(400));
  EXPECT_EQ(SwitchRoutes::releasing(), 0u);
  sim().state().mux.uncable(out);
}

// Each released source keeps its outputs for its own grace period; patching another source
// meanwhile takes nothing down.
TEST_F(HdlcTest, EachReleasedSourceKeepsItsOutputsForItsOwnGrace) {
  HwMux& mux = *HwMux::instance();
  const auto patch = [&](int source, int output) {
    mux.Connect(source, output);
    SwitchRoutes::made(source, output);
  };
  const auto fed_by = [](int output) {
    const auto& e = sim().state().mux.entry(output);
    return e.kind == board::sim::SimSwitch::Entry::connected ? e.source : -1;
  };
  patch(300, 8192 + 40);
  patch(301, 8192 + 41);
  patch(0, 8192 + 43);  // the switch's first source, as any other
  // Each source is released by an owner that still holds it.
  const auto held = [] { return board::open(HDLC::kPath, O_RDWR | O_NONBLOCK | O_CLOEXEC); };
  SwitchRoutes::release(300, held());
  advance(1);
  SwitchRoutes::release(0, held());
  advance(299);
  SwitchRoutes::release(301, held());
  patch(302, 8192 + 42);
  advance(SwitchRoutes::kGraceMs - 300);
  EXPECT_EQ(fed_by(8192 + 40), -1);
  EXPECT_EQ(fed_by(8192 + 43), 0);
  EXPECT_EQ(fed_by(8192 + 41), 301);
  advance(1);  // the timer, left 1 ms short of the second grace's end
  EXPECT_EQ(fed_by(8192 + 43), -1);
  advance(298);
  EXPECT_EQ(fed_by(8192 + 41), 301);
  advance(1);
  EXPECT_EQ(fed_by(8192 + 41), -1);
  EXPECT_EQ(fed_by(8192 + 42), 302);
}

TEST_F(HdlcTest, BlockedWriteGivesExactlyOneReadyWhenTheChannelDrains) {
  int c = activate();
  pass(3);
  EXPECT_EQ(rx.ready, 1);  // the first writability after activation
  ASSERT_TRUE(hdlc.is_ready());

  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(sim().stall(c, true));
    Packet frame = packet_of(Bytes(4000, static_cast<uint8_t>(round)));
    int sent = 0;
    while (hdlc.hdlc_transmit(frame)) ASSERT_LT(++sent, 100000);
    EXPECT_FALSE(hdlc.is_ready());
    EXPECT_EQ(hdlc.txError, 0u);
    EXPECT_EQ(hdlc.txSU, static_cast<uint32_t>(sent) + (round ? hdlc.txSU - sent : 0));
    rx.ready = 0;
    pass(3);
    EXPECT_EQ(rx.ready, 0) << "still full";

    ASSERT_TRUE(sim().stall(c, false));
    sim().service();
    pass(3);
    EXPECT_EQ(rx.ready, 1) << round;
    EXPECT_TRUE(hdlc.is_ready());
  }
}

TEST_F(HdlcTest, ReceiverThatDeactivatesOrReactivatesInsideItsCallback) {
  int c = activate();  // not ready yet: the first pass reports the channel readable and writable
  rx.on_receive = [&](Packet&) { hdlc.deactivate(); };
  inject(c, {1});
  inject(c, {2});
  pass(3);
  EXPECT_EQ(rx.frames.size(), 1u) << "hears nothing more";
  EXPECT_EQ(rx.ready, 0);
  EXPECT_TRUE(rx.errors.empty());
  EXPECT_FALSE(hdlc.is_open());

  c = activate();
  rx.on_receive = [&](Packet&) {
    rx.on_receive = nullptr;
    EXPECT_TRUE(hdlc.activate());
  };
  inject(c, {1});
  pass();
  EXPECT_EQ(rx.ready, 0) << "the old channel's writability does not make the new one ready";
  EXPECT_TRUE(hdlc.is_open());
  pass();
  EXPECT_EQ(rx.ready, 1);
}

TEST_F(HdlcTest, ReceiverThatIsRefusedInsideItsCallbackIsNotToldReadyAtOnce) {
  int c = activate_ready();
  ASSERT_TRUE(sim().stall(c, true));
  Packet big = packet_of(Bytes(4000, 1));
  while (hdlc.hdlc_transmit(big)) {
  }
  ASSERT_TRUE(sim().stall(c, false));
  sim().service();  // room again, but the receiver fills it inside its callback
  rx.on_receive = [&](Packet&) {
    ASSERT_TRUE(sim().stall(c, true));
    while (hdlc.hdlc_transmit(big)) {
    }
  };
  inject(c, {1});
  pass();
  EXPECT_EQ(rx.frames.size(), 1u);
  EXPECT_EQ(rx.ready, 0);
  EXPECT_FALSE(hdlc.is_ready());
  rx.on_receive = nullptr;
  ASSERT_TRUE(sim().stall(c, false));
  sim().service();
  pass(2);
  EXPECT_EQ(rx.ready, 1);
}

TEST_F(HdlcTest, UnboundChannelDropsEverythingSilently) {
  int c = activate();
  rx.on_receive = [&](Packet&) { hdlc.unbind(); };
  inject(c, {1});
  inject(c, {2});
  pass(4);
  EXPECT_EQ(rx.frames.size(), 1u);
  EXPECT_EQ(rx.ready, 0);
  EXPECT_EQ(hdlc.rxSU, 2u);
  sim().hangup(Device::mcc);
  pass(2);
  EXPECT_TRUE(rx.errors.empty());
  EXPECT_FALSE(hdlc.is_open());
}

TEST_F(HdlcTest, HungUpControllerDeactivatesBeforeTheReceiverHearsOfIt) {
  activate_ready();
  bool open_when_told = true;
  rx.on_error = [&] { open_when_told = hdlc.is_open(); };
  sim().hangup(Device::mcc);
  pass(5);  // the descriptor is no longer watched: one report only, no spinning
  EXPECT_EQ(rx.errors, std::vector<int>{HDLC::Notify::Cause::read_error});
  EXPECT_FALSE(open_when_told);
  EXPECT_LINE(err(), "hdlc [2/7]: read error: end of file");
}

}  // namespace
