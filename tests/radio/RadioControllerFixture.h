#pragma once
// What the controller tests share: the simulated board reset around each test, the loop's
// clock, a notify target that keeps every request and code, and the packets a session sent.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <vector>

#include "asn1/CoderEnv.h"
#include "asn1/schemas/TERM.h"
#include "board/sim/SimBoard.h"
#include "foundation/Multiplexer.h"
#include "radio/RadioControl.h"
#include "tests/support/CaptureStreams.h"
#include "tests/support/TestClock.h"

namespace radiotest {

inline uint32_t addr(const char* text) {
  in_addr a{};
  inet_pton(AF_INET, text, &a);
  return a.s_addr;
}

inline RTPSignalling::rtp_ext_init_params lemz_init() {
  RTPSignalling::rtp_ext_init_params init{};
  init.etype = board::rtp_ext::kEtypeLemz;
  return init;
}

// Keeps what a controller reports; every request must encode for the control link.
class Recorder : public RTPSignalling::IRadioControlNotify {
 public:
  bool RadioControlNotify(TERM::RtpRadioRequest const& r) override {
    std::vector<char> bytes;
    EXPECT_TRUE(ASN1::detail::encodePER(r, bytes)) << r;
    requests.push_back(r);
    return delivers;
  }
  bool delivers = true;  // false: as if the control link refused the report
  void RadioControlNotify(int code) override { codes.push_back(code); }
  std::vector<TERM::RtpRadioRequest> requests;
  std::vector<int> codes;
};

class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override { sim().reset(); }
  void TearDown() override { sim().reset(); }
  static board::sim::SimBoard& sim() { return board::sim::SimBoard::instance(); }
  void pump() {
    for (int i = 0; i < 3; ++i) multiplexer.run_once(0);
  }
  void advance(uint32_t ms) {
    clock.advance(ms);
    pump();
  }
  // Packets written on the (only) extension session, oldest first; taken off the list.
  std::vector<board::sim::Bytes> sent() {
    std::vector<board::sim::Bytes> out;
    for (const auto& [id, s] : sim().rtp_ext().sessions()) {
      if (!s.open) continue;
      out.assign(s.sent.begin(), s.sent.end());
      out.erase(out.begin(), out.begin() + static_cast<long>(std::min(taken_, out.size())));
      taken_ += out.size();
    }
    return out;
  }
  // One packet from a source, read by the controller at the loop's next pass.
  void inject(const char* from, uint32_t ssrc, board::sim::Bytes bytes) {
    sim().rtp_ext_packet(addr(from), ssrc, bytes);
  }

  vxtest::CaptureStreams capture;
  vxtest::TestClock clock;
  Recorder notify;
  size_t taken_ = 0;
};

}  // namespace radiotest
