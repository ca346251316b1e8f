#pragma once
// What the RTP and radio slot tests share: a controller bound to the Slots service on a clean
// simulated board, commands sent as it sends them, and UDP ends for the sessions' RTCP.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <iterator>
#include <vector>

#include "slots/Slots.h"
#include "tests/hwsvc/Harness.h"
#include "tests/support/CaptureStreams.h"
#include "tests/support/RecordBytes.h"
#include "tests/support/UdpPeer.h"

namespace rtptest {

constexpr int kNoAnswer = -2;

// The far end of the RTCP packets.
using Peer = vxtest::UdpPeer;

// A free UDP port (bound once and let go).
inline uint16_t free_port() {
  Peer p;
  return p.port;
}

// The controller connected to the Slots service for each test, on a board with its RTP
// capacity and voice device as the simulator starts them.
class SlotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::signal(SIGPIPE, SIG_IGN);
    hwtest::clean_board();
    hwtest::sim().state().rtp.capacity = 128;
    hwtest::sim().state().voice = {};
    ctl.connect();
  }
  void TearDown() override {
    ctl.disconnect();  // destroys every slot left
    multiplexer.run_once(0);
  }

  // Sends a command for `slot`; returns its answer (-1 success, else the cause).
  int send(const LGCP::Command& command, unsigned slot = 3) {
    LGCP::Message m;
    m.set_seq(++seq_);
    m.set_slot(slot);
    m.get_pdu().set_command(command);
    static const ASN1::CoderEnv env(ASN1::CoderEnv::per);
    std::vector<char> bytes;
    EXPECT_TRUE(ASN1::encode(m, &env, std::back_inserter(bytes)));
    ctl.server.OnMessage(bytes.data(), static_cast<int>(bytes.size()));
    auto a = ctl.answers();
    return a.empty() ? kNoAnswer : a.back();
  }

  hwtest::Controller ctl{Slots::instance()};
  vxtest::CaptureStreams log;
  int seq_ = 0;
};

}  // namespace rtptest
