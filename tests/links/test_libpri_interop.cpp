// Our links against Debian's libpri as the far end, through the simulated board's far-end
// socket: both roles, primary rate and basic rate point to multipoint. The peer runs in real
// time, so these tests wait on its output with deadlines instead of moving a fake clock.
#ifdef VX_LAPD_PEER

#include "LinkTest.h"
#include "links/LAPD.h"
#include "links/LAPD_NT.h"

namespace {

using namespace linktest;
using ISDN::LAPD;
using ISDN::Side;

constexpr int kLine = 8192 + 40;

// The libpri peer; its output lines are gathered while our side's loop and the board run.
struct Peer : vxtest::ChildLines {
  Peer(const std::string& path, const char* role, const char* mode, int instances)
      : ChildLines({VX_LAPD_PEER, path, role, mode, std::to_string(instances)}) {}
  bool run_until(const std::function<bool()>& done, int ms = 5000) { return run_real_time(this, done, ms); }
  bool wait_line(const std::string& prefix, int ms = 5000) { return run_until([&] { return count(prefix) > 0; }, ms); }
};

class LibpriInterop : public ::testing::Test {
 protected:
  void TearDown() override {
    if (HasFailure() && peer_) {
      std::string said;
      for (const auto& l : peer_->lines) said += l + "\n";
      ADD_FAILURE() << "peer said:\n" << said;
    }
    peer_.reset();
    sim().untie_far_end(kLine);
    for (int i = 0; i < 2; ++i) sim().service(), multiplexer.run_once(0);
  }
  // The peer, tied to the line unless `tie` is false (tie() then does it).
  Peer& start(const char* role, const char* mode, int instances = 1, bool tie_now = true) {
    peer_ = std::make_unique<Peer>(dir_.path() + "/peer", role, mode, instances);
    EXPECT_TRUE(peer_->wait_line("listening"));
    if (tie_now) tie();
    return *peer_;
  }
  void tie() { EXPECT_EQ(sim().tie_far_end(kLine, dir_.path() + "/peer"), 0); }
  vxtest::TempDir dir_{"vx_libpri"};
  std::unique_ptr<Peer> peer_;
  vxtest::CaptureStreams capture_;
};

struct Link {
  Owner owner;
  LAPD* link;
  std::unique_ptr<HDLC> hdlc;
  Link(Side::type side, int mode) : link(new LAPD(side, 0)) {
    owner.add_protocol_tail(link);
    hdlc = sim_channel(kLine, mode, link);
    link->device = hdlc.get();
  }
  ~Link() { hdlc->unbind(); }
  void send(const Bytes& m) { Packet p = packet_of(m); link->message(p); }
  unsigned state() const { return link->full_state().state; }
};

// I frames both ways while frames are lost: our frame lost with one after it (the peer's
// REJ), our last frame lost (our T200 poll), the peer's frame lost (the peer's T200 poll or
// our REJ). `enquiry` is a message the peer answers with one I frame of its own.
void exchange_with_losses(Peer& peer, Link& l, const std::function<Bytes(uint8_t)>& enquiry) {
  auto answered = [&](size_t n) { return peer.run_until([&] { return l.owner.messages.size() >= n; }); };
  size_t base = l.owner.messages.size();
  l.send(enquiry(1));
  ASSERT_TRUE(answered(base + 1)) << "plain exchange";
  peer.command("drop-rx 1");
  l.send(enquiry(2));
  l.send(enquiry(3));
  ASSERT_TRUE(answered(base + 3)) << "our first frame lost: recovered by REJ";
  EXPECT_GE(l.link->statistics.retrains, 1u);
  peer.command("drop-rx 1");
  unsigned t200 = l.link->statistics.t200;
  l.send(enquiry(4));
  ASSERT_TRUE(answered(base + 4)) << "our only frame lost: recovered by T200";
  EXPECT_GT(l.link->statistics.t200, t200);
  peer.command("drop-tx 1");
  l.send(enquiry(5));
  ASSERT_TRUE(answered(base + 5)) << "the peer's frame lost: recovered by its T200";
  EXPECT_EQ(l.state(), 6u);
  l.link->deactivate();
  ASSERT_TRUE(peer.run_until([&] { return !l.owner.released.empty(); }));
}

Bytes status_enquiry_pri(uint8_t cr) { return {0x08, 0x02, 0x00, cr, 0x75}; }
Bytes status_enquiry_bri(uint8_t cr) { return {0x08, 0x01, cr, 0x75}; }

TEST_F(LibpriInterop, PrimaryRateUserSide) {
  auto& peer = start("network", "pri");
  Link l(Side::user, HDLC::mode_isdn);
  l.link->activate();
  ASSERT_TRUE(peer.run_until([&] { return l.state() == 6u; }));
  ASSERT_TRUE(peer.wait_line("event 0 PRI_EVENT_DCHAN_UP"));
  exchange_with_losses(peer, l, status_enquiry_pri);
  EXPECT_EQ(l.owner.released, "success (UA received)|");
}

TEST_F(LibpriInterop, PrimaryRateNetworkSide) {
  auto& peer = start("cpe", "pri");
  Link l(Side::network, HDLC::mode_isdn);
  // The peer establishes the link itself.
  ASSERT_TRUE(peer.run_until([&] { return l.state() == 6u; }));
  ASSERT_TRUE(peer.wait_line("event 0 PRI_EVENT_DCHAN_UP"));
  peer.command("call");
  ASSERT_TRUE(peer.run_until([&] { return !l.owner.messages.empty(); }));
  EXPECT_EQ(l.owner.messages[0][4], 0x05) << "a SETUP from the peer";
  exchange_with_losses(peer, l, status_enquiry_pri);
}

TEST_F(LibpriInterop, BasicRateTerminalGetsATeiFromThePeer) {
  auto& peer = start("network", "bri");
  Link l(Side::user, HDLC::mode_bri);
  l.link->change_to_bri();
  l.link->mdl_remove();
  l.link->activate();
  ASSERT_TRUE(peer.run_until([&] { return l.state() == 3u; })) << "TEI assigned";
  EXPECT_GE(l.link->full_state().ownTei, 64u);
  l.link->activate();
  ASSERT_TRUE(peer.run_until([&] { return l.state() == 6u; }));
  exchange_with_losses(peer, l, status_enquiry_bri);
}

// The network side of a basic-rate port, its frames passed between the layer and the channel
// by the stack's owner as the owning slot does.
struct NtPort : Owner, HDLC::Notify {
  ISDN::LAPD_NT* nt = new ISDN::LAPD_NT;
  std::unique_ptr<HDLC> hdlc = sim_channel(kLine, HDLC::mode_bri, this);
  NtPort() {
    add_protocol_tail(nt);
    on_sent = [this](Packet& p) { hdlc->hdlc_transmit(p); };
  }
  ~NtPort() { hdlc->unbind(); }
  void on_hdlc_receive(Packet& p) override { nt->receive(p); }
  void on_hdlc_error(Cause::Type) override {}
  void on_hdlc_ready() override {}
};

// The terminals ask for their TEIs as soon as the line is tied to them: only then, once the
// network side listens, so that none of the first requests is lost and they are served in the
// terminals' order. Which terminal is refused depends on that order alone, and the one that
// calls must have its link up first.
TEST_F(LibpriInterop, BasicRateNetworkSideServesEightTerminalsAndRefusesTheNinth) {
  auto& peer = start("cpe", "bri", 9, false);
  NtPort port;
  port.nt->set_log(1);
  port.nt->activate();
  tie();
  ASSERT_TRUE(peer.run_until([&] { return port.nt->user(7).linkState != 0; }, 8000));
  ASSERT_TRUE(peer.run_until([&] {
    return capture_.log.str().find("recieved identity request, but all TEI values is ussigned") != std::string::npos;
  }, 8000));
  // The peer's lines come through a pipe of their own: read on until the refusal shows there too.
  EXPECT_TRUE(peer.wait_line("rx FEFF030F", 8000)) << "identity messages reached the terminals";
  // A call from a terminal: its SETUP comes up; our answer goes back to that terminal only.
  ASSERT_TRUE(peer.wait_line("event 0 PRI_EVENT_DCHAN_UP", 8000)) << "the first terminal has its TEI and link";
  peer.command("call");
  ASSERT_TRUE(peer.run_until([&] { return !port.messages.empty(); }));
  Bytes setup = port.messages[0];
  ASSERT_GE(setup.size(), 4u);
  EXPECT_EQ(setup[3], 0x05);
  // RELEASE COMPLETE for that call, from the network side of the call reference; lost once on
  // the way, so that the link timer sends it again.
  peer.command("drop-rx 1");
  Packet rc = packet_of({0x08, 0x01, static_cast<uint8_t>(setup[2] | 0x80), 0x5A});
  port.nt->message(rc);
  ASSERT_TRUE(peer.wait_line("event 0 PRI_EVENT_HANGUP", 8000));
}

}  // namespace

#endif
