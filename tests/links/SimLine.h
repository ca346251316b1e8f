#pragma once
// Links on the simulated board's HDLC controller channels: each channel is patched to bus
// timeslots and the timeslots are joined by cables, as two boards on one line would be.
#include <csignal>
#include <memory>

#include "LinkTest.h"
#include "board/sim/SimBoard.h"
#include "hardware/HDLC.h"
#include "hardware/HwMux.h"
#include "links/LAPD_NT.h"

namespace linktest {

constexpr int kBus = 8192;

inline board::sim::SimBoard& sim() { return board::sim::SimBoard::instance(); }

inline void uncable_all() {
  while (!sim().state().mux.cables().empty()) sim().state().mux.uncable(sim().state().mux.cables().begin()->first);
}

// Moves frames: the board takes in what the channels wrote, the loop delivers what arrived.
inline void settle(int rounds = 8) {
  for (int i = 0; i < rounds; ++i) {
    sim().service();
    multiplexer.run_once(0);
  }
}

// An HDLC channel receiving from `rx` and sending to `tx` (the same timeslot but in BRI mode).
inline std::unique_ptr<HDLC> channel(int mode, int rx, int tx, HDLC::Notify* notify) {
  std::signal(SIGPIPE, SIG_IGN);
  HwMux::instance();
  auto h = std::make_unique<HDLC>();
  h->params.mode = mode;
  h->params.tdm = rx;
  h->params.tdm_tx = tx;
  h->notify = notify;
  EXPECT_TRUE(h->activate());
  return h;
}

// The network side of a basic-rate port in a one-layer stack: frames between the layer and
// its channel go through the stack's owner, as the owning slot passes them.
struct NtPort : Owner, HDLC::Notify {
  ISDN::LAPD_NT* nt = new ISDN::LAPD_NT;
  std::unique_ptr<HDLC> hdlc;
  NtPort() {
    add_protocol_tail(nt);
    on_sent = [this](Packet& p) {
      if (hdlc) hdlc->hdlc_transmit(p);
    };
  }
  void on_hdlc_receive(Packet& p) override { nt->receive(p); }
  void on_hdlc_error(Cause::Type) override {}
  void on_hdlc_ready() override {}
};

}  // namespace linktest
