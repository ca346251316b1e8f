#pragma once
// Shared pieces of the link tests: a stack owner that records what a link reports upwards and
// sends down, a channel that records the frames a link writes, the far ends' real-time loop,
// tshark, and SS7 signal units written by hand with one SS7 link and its owner and wire end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "board/sim/SimBoard.h"
#include "control/ProtocolsFamily.h"
#include "foundation/Packet.h"
#include "hardware/HDLC.h"
#include "hardware/HwMux.h"
#include "links/SS7SLC.h"
#include "tests/support/ChildLines.h"
#include "tests/support/LoopTest.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"
#include "tests/support/UdpCapture.h"

namespace linktest {

using Bytes = std::vector<uint8_t>;
using Frames = std::vector<Bytes>;

inline Packet packet_of(const Bytes& bytes, unsigned head = 8) {
  Packet p;
  p.reserve_head(head);
  for (uint8_t b : bytes) p.put8(b);
  return p;
}

// N(S) of each I frame (SAPI and TEI octets first).
inline std::vector<int> ns_of(const Frames& frames) {
  std::vector<int> v;
  for (const Bytes& f : frames) v.push_back(f[2] >> 1);
  return v;
}

// A TEI management message from a terminal; net_mgmt: from the network side.
inline Bytes mgmt(uint16_t ri, uint8_t type, unsigned ai, uint8_t first = 0xFC) {
  return {first, 0xFF, 0x03, 0x0F, uint8_t(ri), uint8_t(ri >> 8), type, uint8_t(ai << 1 | 1)};
}
inline Bytes net_mgmt(uint16_t ri, uint8_t type, unsigned ai) { return mgmt(ri, type, ai, 0xFE); }

inline Bytes bytes_of(const Packet& p) { return p.is_null() ? Bytes{} : Bytes(p.data(), p.data() + p.length()); }

// What a link sends to its HDLC channel; `full` refuses as a channel whose driver would block.
// With `next` set, it only listens in on the way to that channel.
struct Channel : GenericHDLC {
  Frames frames;
  bool full = false;
  GenericHDLC* next = nullptr;
  bool hdlc_transmit(Packet& f) override {
    if (full) return false;
    frames.push_back(bytes_of(f));
    return !next || next->hdlc_transmit(f);
  }
  bool is_open() const override { return !next || next->is_open(); }
  bool is_ready() const override { return !full && (!next || next->is_ready()); }
  Bytes last() const { return frames.empty() ? Bytes{} : frames.back(); }
  Frames take() { return std::exchange(frames, {}); }
};

// The owner of a one-layer stack: what climbs out of the top and the frames sent out of the
// bottom.
struct Owner : ProtocolsFamily {
  Frames messages;  // layer-3 messages delivered upwards
  Frames sent;      // frames sent down through the stack
  int activated = 0;
  std::string released;  // status texts of on_deactivated, each ended by '|'
  std::string statuses;  // status texts of on_status, each ended by '|'
  std::function<void(Packet&)> on_sent;
  void transmit(Packet& p) override {
    sent.push_back(bytes_of(p));
    if (on_sent) on_sent(p);
  }
  void on_message(Packet& p) override { messages.push_back(bytes_of(p)); }
  void on_activated(Protocol*) override { ++activated; }
  void on_deactivated(Protocol*, Protocol_status s) override { released += s->message() + "|"; }
  void on_status(Protocol_status s) override { statuses += s->message() + "|"; }
  long releases() const { return std::count(released.begin(), released.end(), '|'); }
  bool has_status(const std::string& text) const { return statuses.find(text + "|") != std::string::npos; }
  void clear() { messages.clear(), sent.clear(), activated = 0, released.clear(), statuses.clear(); }
};

using LoopTest = vxtest::LoopTest;

inline board::sim::SimBoard& sim() { return board::sim::SimBoard::instance(); }

// An HDLC channel of the simulated board on `timeslot`, whose far end a peer program ties to.
inline std::unique_ptr<HDLC> sim_channel(int timeslot, int mode, HDLC::Notify* notify) {
  std::signal(SIGPIPE, SIG_IGN);
  HwMux::instance();
  auto h = std::make_unique<HDLC>();
  h->params.mode = mode;
  h->params.tdm = h->params.tdm_tx = timeslot;
  h->notify = notify;
  EXPECT_TRUE(h->activate());
  return h;
}

// For the far-end programs, which keep real time: runs the loop and the simulated board until
// done() or `ms` have passed, gathering what the peer writes.
inline bool run_real_time(vxtest::ChildLines* peer, const std::function<bool()>& done, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (peer) peer->read_lines();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    sim().service();
    multiplexer.run_once(2);
  }
}

// Takes every packet buffer of the pool while it lives.
struct PoolHog {
  std::vector<Packet> held;
  PoolHog() {
    while (PacketPool::instance().free_count() > 0) held.emplace_back().reserve_head(0);
  }
};

// What tshark reads in the frames written as a capture with the text2pcap link-type option
// `dlt`: the given fields of each frame, one line a frame; empty when tshark is not installed.
inline std::vector<std::string> tshark_lines(const Frames& frames, const std::string& dlt, const std::string& fields) {
  if (!vxtest::have("tshark") || !vxtest::have("text2pcap")) return {};
  vxtest::TempDir dir("vx_tshark");
  const std::string pcap = dir.path() + "/frames.pcap";
  EXPECT_TRUE(vxtest::write_capture(pcap, frames, dlt));
  std::istringstream out(vxtest::run("tshark -r " + pcap + " -T fields -E separator=, " + fields + " 2>/dev/null"));
  std::vector<std::string> lines;
  for (std::string l; std::getline(out, l);) lines.push_back(l);
  return lines;
}

}  // namespace linktest

namespace ss7test {

using namespace linktest;
using SS7::SLC;

// A unit as it goes on the wire: BSN/BIB, FSN/FIB, LI, payload.
inline Bytes unit(unsigned bsn, bool bib, unsigned fsn, bool fib, const Bytes& payload = {}) {
  Bytes u{uint8_t((bib ? 0x80 : 0) | bsn), uint8_t((fib ? 0x80 : 0) | fsn), uint8_t(std::min<size_t>(payload.size(), 63))};
  u.insert(u.end(), payload.begin(), payload.end());
  return u;
}
inline Bytes lssu(uint8_t status) { return {0xFF, 0xFF, 0x01, status}; }

// A level 3 message with the stack's head room, handed down as the slot does.
inline void send_down(Owner& up, SLC* link, const Bytes& msu) {
  Packet p;
  up.prepare_head(p);
  for (uint8_t x : msu) p.put8(x);
  link->message(p);
}

// One link with its owner and wire end.
struct End {
  Owner up;
  SLC* link = new SLC;  // owned by up
  Channel wire;
  End() {
    up.add_protocol_tail(link);
    link->hdlc = &wire;
  }
  void send(const Bytes& msu) { send_down(up, link, msu); }
  void deliver(const Bytes& u) { Packet p = packet_of(u, 0); link->receive(p); }
  // Activated, SIN from the far end takes it to proving, a FISU to worked; what it sent on
  // the way is forgotten.
  void in_service() {
    link->local_activate();
    deliver(lssu(SLC::SIN));
    deliver(unit(127, true, 127, true));
    ASSERT_EQ(link->state(), SLC::State::worked);
    wire.frames.clear();
  }
  // The MSUs sent since `from`.
  Frames msus(size_t from = 0) const {
    Frames r;
    for (size_t i = from; i < wire.frames.size(); ++i)
      if (wire.frames[i].size() > 5) r.push_back(wire.frames[i]);
    return r;
  }
};

using LinkTest = vxtest::LoopTest;

// One link on the fake clock, with the trace header of its default address.
struct SlcTest : LinkTest {
  void in_service() {
    e.in_service();
    clear_output();
  }
  // FISU from the far end.
  void fisu(unsigned bsn, bool bib = true, unsigned fsn = 127, bool fib = true) { e.deliver(unit(bsn, bib, fsn, fib)); }
  End e;
  const std::string H = "SS7/L2 [dpc=0, slc=0, trunk=0] ";
};

// A whole line of a trace text (the trace lines end in a newline).
#define EXPECT_LINE(text, line) EXPECT_THAT(text, ::testing::HasSubstr(std::string(line) + "\n"))

}  // namespace ss7test
