#pragma once
// The slot table with the signalling factories on the simulated board: command builders for
// the signalling slots and readers of the "ioctl" and "userData" signals they send.
#include <algorithm>

#include "SlotsFixture.h"
#include "board/sim/SimBoard.h"
#include "foundation/Multiplexer.h"
#include "hardware/SwitchRoutes.h"
#include "slots/HdlcSlotFactory.h"
#include "slots/IsdnFactory.h"
#include "slots/PstnFactory.h"
#include "slots/TrunkFactory.h"

namespace slotstest {

using Bytes = std::vector<uint8_t>;

inline board::sim::SimBoard& sim() { return board::sim::SimBoard::instance(); }

inline void set_isdn(LGCP::IsdnParams& p, bool bri, int trunk, bool network, int log = 0) {
  p.set_type(bri ? LGCP::IsdnType::bri : LGCP::IsdnType::pri);
  p.set_trunk(trunk);
  p.set_log(log);
  if (network) p.get_side().select_network();
  else p.get_side().select_user();
}

inline LGCP::Message create_hdlc(int seq, unsigned slot, int trunk, int address) {
  return slot_command(seq, slot, [&](LGCP::Command& c) {
    auto& h = c.select_create().select_hdlcParams();
    h.set_trunk(trunk);
    h.set_log(0);
    h.set_address(address);
  });
}

inline LGCP::Message create_isdn(int seq, unsigned slot, bool bri, int trunk, bool network) {
  return slot_command(seq, slot, [&](LGCP::Command& c) { set_isdn(c.select_create().select_isdn(), bri, trunk, network); });
}

inline LGCP::Message create_pstn_isdn(int seq, unsigned slot, bool bri, int trunk, bool network) {
  return slot_command(seq, slot,
                      [&](LGCP::Command& c) { set_isdn(c.select_create().select_pstn().select_isdn(), bri, trunk, network); });
}

inline LGCP::Message create_pstn_ss7(int seq, unsigned slot, int trunk) {
  return slot_command(seq, slot, [&](LGCP::Command& c) {
    auto& s = c.select_create().select_pstn().select_ss7();
    s.set_trunk(trunk);
    s.set_slc(0);
    s.set_dpc(1);
    s.set_opc(2);
    s.set_emergency(false);
  });
}

inline LGCP::Message create_ats_qsig(int seq, unsigned slot) {
  return slot_command(seq, slot, [&](LGCP::Command& c) {
    auto& a = c.select_create().select_ats_qsig();
    a.get_side().select_user();
    a.set_log(0);
  });
}

inline LGCP::Message create_ats_qsig_b(int seq, unsigned slot, unsigned signalling, unsigned subslot) {
  return slot_command(seq, slot, [&](LGCP::Command& c) {
    auto& b = c.select_create().select_ats_qsig_b();
    b.set_slot(signalling);
    b.set_subslot(subslot);
  });
}

inline LGCP::Message hdlc_packages(int seq, unsigned slot, const std::vector<std::string>& bodies) {
  return slot_command(seq, slot, [&](LGCP::Command& c) {
    auto& list = c.select_ioctl().select_hdlcPackages();
    for (const auto& b : bodies) {
      LGCP::HdlcPackage p;
      p.set_body(b);
      list.push_back(p);
    }
  });
}

inline LGCP::Message user_data(int seq, unsigned slot, const std::string& bytes) {
  return slot_command(seq, slot, [&](LGCP::Command& c) { c.set_userData(bytes); });
}

class SignallingTest : public SlotsTest {
 protected:
  void SetUp() override {
    SlotsTest::SetUp();
    TrunkFactory::BuildAll();
    sim().clear_requests();
  }
  void TearDown() override {
    SlotsTest::TearDown();
    // The channels kept for the last frames of the links that went are given back, as the
    // grace would give them back, so that the next test finds every channel free.
    SwitchRoutes::end_grace();
  }

  // Moves frames: the board takes in what was written, the loop delivers what arrived.
  void settle(int rounds = 8) {
    for (int i = 0; i < rounds; ++i) {
      sim().service();
      multiplexer.run_once(0);
    }
  }
  // Lets the clock run for ms, then moves frames.
  void after(uint64_t ms) {
    clock.advance(ms);
    settle();
  }
  // Controller channels that are open now.
  static std::vector<int> open_channels() {
    std::vector<int> out;
    for (const auto& [ch, c] : sim().hdlc_channels())
      if (c.open) out.push_back(ch);
    return out;
  }
  // The one channel opened since `before`, or -1.
  static int opened_since(const std::vector<int>& before) {
    int found = -1;
    for (int ch : open_channels())
      if (std::find(before.begin(), before.end(), ch) == before.end()) found = found < 0 ? ch : -2;
    return found;
  }

  // What the control connection carried since the last look, split by kind.
  struct Seen {
    std::vector<std::string> answers;  // "success" or "error <cause>"
    std::vector<LGCP::IoctlResponse> ioctls;
    std::vector<std::string> userData;
    std::vector<int> other;  // other signal alternatives (trunk status excepted)
    // The ioctl signals of one alternative.
    std::vector<LGCP::IoctlResponse> of(int alt) const {
      std::vector<LGCP::IoctlResponse> out;
      for (const auto& r : ioctls)
        if (r.getID() == alt) out.push_back(r);
      return out;
    }
  };
  Seen seen() {
    Seen s;
    for (const auto& a : answers()) {
      if (!a.signal()) {
        s.answers.push_back(a.success() ? "success" : "error " + std::to_string(a.error()));
        continue;
      }
      const LGCP::Signal& sig = a.message.get_pdu().get_signal();
      if (sig.is_ioctl()) s.ioctls.push_back(sig.get_ioctl());
      else if (sig.is_userData()) s.userData.push_back(std::string(sig.get_userData()));
      else if (!sig.is_trunkStatus()) s.other.push_back(sig.getID());
    }
    return s;
  }

  HdlcSlotFactory hdlcFactory;
  IsdnFactory isdnFactory;
  PstnFactory pstnFactory;
};

}  // namespace slotstest
