#pragma once
// Shared pieces of the link tests: a stack owner that records what a link reports upwards and
// what it sends down, a channel that records the frames a link writes, the fake clock and the
// event loop driven pass by pass.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "control/ProtocolsFamily.h"
#include "foundation/Multiplexer.h"
#include "foundation/Packet.h"
#include "hardware/HDLC.h"
#include "tests/support/LoopTest.h"

namespace linktest {

using Bytes = std::vector<uint8_t>;

inline Packet packet_of(const Bytes& bytes, unsigned head = 8) {
  Packet p;
  p.reserve_head(head);
  for (uint8_t b : bytes) p.put8(b);
  return p;
}

inline Bytes bytes_of(const Packet& p) { return p.is_null() ? Bytes{} : Bytes(p.data(), p.data() + p.length()); }

// What a link sends to its HDLC channel; `full` makes it refuse as a channel whose driver
// would block does.
struct Channel : GenericHDLC {
  std::vector<Bytes> frames;
  bool full = false;
  bool hdlc_transmit(Packet& f) override {
    if (full) return false;
    frames.push_back(bytes_of(f));
    return true;
  }
  bool is_open() const override { return true; }
  bool is_ready() const override { return !full; }
  Bytes last() const { return frames.empty() ? Bytes{} : frames.back(); }
  std::vector<Bytes> take() { return std::exchange(frames, {}); }
};

// The owner of a one-layer stack: records messages, activations, releases and status reports
// that climb out of the top, and the frames a layer sends down out of the bottom.
struct Owner : ProtocolsFamily {
  std::vector<Bytes> messages;  // layer-3 messages delivered upwards
  std::vector<Bytes> sent;      // frames sent down (layers that transmit through the stack)
  int activated = 0;
  std::vector<std::string> released;  // status texts of on_deactivated
  std::vector<bool> released_ok;
  std::vector<std::string> statuses;  // status texts of on_status
  std::function<void(Packet&)> on_sent;

  void transmit(Packet& p) override {
    sent.push_back(bytes_of(p));
    if (on_sent) on_sent(p);
  }
  void on_message(Packet& p) override { messages.push_back(bytes_of(p)); }
  void on_activated(Protocol*) override { ++activated; }
  void on_deactivated(Protocol*, Protocol_status s) override {
    released.push_back(s->message());
    released_ok.push_back(s->success());
  }
  void on_status(Protocol_status s) override { statuses.push_back(s->message()); }
  bool has_status(const std::string& text) const {
    return std::find(statuses.begin(), statuses.end(), text) != statuses.end();
  }
};

// The fake clock and the loop: time moves only when a test says so.
class LoopTest : public vxtest::LoopTest {
 protected:
  void clear_log() { clear_output(); }
};

}  // namespace linktest
