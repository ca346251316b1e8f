#pragma once
// The slot table bound to a control server on a socket pair, a programmable slot kind and its
// factory, and builders of the slot commands.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "board/sim/SimBoard.h"
#include "hardware/HwMux.h"
#include "slots/Connection.h"
#include "slots/Slot.h"
#include "slots/SlotFactory.h"
#include "slots/Slots.h"
#include "tests/control_server/ServerFixture.h"
#include "tests/support/TestClock.h"

namespace slotstest {

inline std::string put(const Slot& s) {
  std::ostringstream os;
  s.Put(os);
  return os.str();
}

// A slot whose answers are set by the test and whose hook calls are recorded in `calls`.
class Probe : public Slot {
 public:
  Probe(std::string name, int tx = -1, int rx = -1) : name_(std::move(name)), tx(tx), rx(rx) {}
  ~Probe() override {
    if (deleted) *deleted = true;
  }

  const char* GetName() const override { return name_.c_str(); }
  int IGetTransmitChannel() override { return tx; }
  int IGetReceiveChannel() override { return rx; }
  int GetConnectionPriority() override { return priority; }
  int GetTrunk() override { return trunk; }
  int GetTrunkTimeSlot() override { return timeslot; }
  bool IOnOutputStream() override { return note("output"), output; }
  bool IOnInputStream() override { return note("input"), input; }
  void IOnOutputRelease() override {
    note("output-release");
    if (onOutputRelease) onOutputRelease();
  }
  void IOnInputRelease() override {
    note("input-release");
    if (onInputRelease) onInputRelease();
  }
  bool IHwConnectTransmitter(Slot& sink) override { return note("hw-tx " + put(sink)), Slot::IHwConnectTransmitter(sink); }
  bool IHwConnectReceiver(Slot& src) override { return note("hw-rx " + put(src)), Slot::IHwConnectReceiver(src); }
  bool IHwDisconnectTransmitter(Slot& sink) override {
    return note("hw-untx " + put(sink)), Slot::IHwDisconnectTransmitter(sink);
  }
  bool IHwDisconnectReceiver(Slot& src) override { return note("hw-unrx " + put(src)), Slot::IHwDisconnectReceiver(src); }
  bool IBeforeDestroy() override { return note("before-destroy"), immediate; }
  bool IActivate(TERM::TermActivateParams const&) override { return note("activate"), supported; }

  void note(std::string what) { calls.push_back(std::move(what)); }

  std::string name_;
  int tx, rx;
  int priority = 0;
  int trunk = -1, timeslot = -1;
  bool output = true, input = true, immediate = true, supported = true;
  bool* deleted = nullptr;
  std::function<void()> onOutputRelease, onInputRelease;
  std::vector<std::string> calls;
};

// Makes a Probe for every "ext" create whose transmitter is -1 or more (transmitter and
// receiver become its channels); `prepare` sets each new one up.
class ProbeFactory : public SlotFactory {
 public:
  const char* GetName() const override { return "Probes"; }
  Slot* INewSlot(LGCP::CreateParams const& p) override {
    if (p.getID() != LGCP::CreateParams::e_ext || p.get_ext().get_transmitter().getValue() < -1) return nullptr;
    auto* s = new Probe("probe", p.get_ext().get_transmitter().getValue(), p.get_ext().get_receiver().getValue());
    if (prepare) prepare(*s);
    return s;
  }
  void Query(LGCP::Resources& r) override { r.set_modem(r.get_modem().getValue() + 7); }
  void SelfSignal(LGCP::Signal const& s) override { selfSignals.push_back(s.getID()); }

  std::function<void(Probe&)> prepare;
  std::vector<int> selfSignals;
};

inline LGCP::Message slot_command(int seq, unsigned slot, const std::function<void(LGCP::Command&)>& fill) {
  LGCP::Message m;
  m.set_seq(seq);
  m.set_slot(slot);
  fill(m.get_pdu().select_command());
  return m;
}

inline LGCP::Message create_probe(int seq, unsigned slot, int tx = 1, int rx = 2) {
  return slot_command(seq, slot, [&](LGCP::Command& c) {
    auto& e = c.select_create().select_ext();
    e.set_transmitter(tx);
    e.set_receiver(rx);
  });
}

inline LGCP::Message create_trunk(int seq, unsigned slot, unsigned trunk, unsigned ts, bool bri = false) {
  return slot_command(seq, slot, [&](LGCP::Command& c) {
    auto& t = bri ? c.select_create().select_trunk_bri() : c.select_create().select_trunk();
    t.set_trunk(trunk);
    t.set_timeslot(ts);
  });
}

inline LGCP::Message connect_cmd(int seq, unsigned slot, unsigned target) {
  return slot_command(seq, slot, [&](LGCP::Command& c) { c.set_connect(target); });
}

inline LGCP::Message simple(int seq, unsigned slot, int alt) { return srvtest::command(alt, seq, slot); }

// The text of a Stream signal: "receiver active 37", "transmitter inactive".
inline std::string stream_text(const srvtest::Answer& a) {
  if (!a.signal()) return a.success() ? "success" : "error " + std::to_string(a.error());
  const LGCP::Signal& s = a.message.get_pdu().get_signal();
  if (!s.is_receiver() && !s.is_transmitter()) return "signal " + std::to_string(s.getID());
  const LGCP::Stream& st = s.is_receiver() ? s.get_receiver() : s.get_transmitter();
  std::string out = s.is_receiver() ? "receiver" : "transmitter";
  return st.is_active() ? out + " active " + std::to_string(st.get_active().getValue()) : out + " inactive";
}

class SlotsTest : public srvtest::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    server.Bind(&slots);
    connect();
    HwMux::instance();
  }
  void TearDown() override {
    // As a lost controller leaves them, without waiting for the put-off ones.
    slots.OnDisconnect();
    while (!slots.Pending().empty()) slots.int_destroy(slots.Pending().front());
    ServerTest::TearDown();
    slots.server = nullptr;
  }
  void send(const LGCP::Message& m) { deliver(m); }
  // The answers and signals written since the last look, as text.
  std::vector<std::string> texts() {
    std::vector<std::string> out;
    for (const auto& a : answers()) out.push_back(stream_text(a));
    return out;
  }
  Probe* probe(unsigned n) { return dynamic_cast<Probe*>(slots.Find(n)); }
  // What drives a switch output on the simulated board.
  static std::string sw(int channel) {
    const auto& e = board::sim::SimBoard::instance().state().mux.entry(channel);
    using K = board::sim::SimSwitch::Entry;
    if (e.kind == K::connected) return "from " + std::to_string(e.source);
    return e.kind == K::constant ? "idle" : "disabled";
  }

  Slots& slots = *Slots::instance();
  ProbeFactory probes;
  vxtest::TestClock clock;
};

}  // namespace slotstest
