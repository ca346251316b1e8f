#pragma once
// Shared pieces of the link tests: a stack owner that records what a link reports upwards and
// sends down, a channel that records the frames a link writes, and the fake clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "board/sim/SimBoard.h"
#include "control/ProtocolsFamily.h"
#include "foundation/Packet.h"
#include "hardware/HDLC.h"
#include "tests/support/ChildLines.h"
#include "tests/support/LoopTest.h"

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

inline Bytes bytes_of(const Packet& p) { return p.is_null() ? Bytes{} : Bytes(p.data(), p.data() + p.length()); }

// What a link sends to its HDLC channel; `full` refuses as a channel whose driver would block.
struct Channel : GenericHDLC {
  Frames frames;
  bool full = false;
  bool hdlc_transmit(Packet& f) override {
    if (full) return false;
    frames.push_back(bytes_of(f));
    return true;
  }
  bool is_open() const override { return true; }
  bool is_ready() const override { return !full; }
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

}  // namespace linktest
