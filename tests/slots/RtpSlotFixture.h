#pragma once
// What the RTP and radio slot tests share: the media slot fixture on a board whose RTP capacity
// and voice device are as the simulator starts them, and UDP ends for the sessions' RTCP.
#include "tests/slots/MediaFixture.h"
#include "tests/support/UdpPeer.h"

namespace rtptest {

// The far end of the RTCP packets.
using Peer = vxtest::UdpPeer;

// A free UDP port (bound once and let go).
inline uint16_t free_port() {
  Peer p;
  return p.port;
}

class SlotTest : public mediatest::MediaTest {
 protected:
  void SetUp() override {
    MediaTest::SetUp();
    hwtest::sim().state().rtp.capacity = 128;
    hwtest::sim().state().voice = {};
  }
};

}  // namespace rtptest
