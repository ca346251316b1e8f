#pragma once
// Modem slots under test: the slot table with a modem factory whose authentication listener
// takes any free port, a launcher that records the programs instead of starting them, and
// the local client side of the authentication channel.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>

#include "SlotsFixture.h"
#include "board/sim/SimBoard.h"
#include "foundation/Multiplexer.h"
#include "slots/AuthClient.h"
#include "slots/AuthRecord.h"
#include "slots/ChildLauncher.h"
#include "slots/DspModemSlot.h"
#include "slots/HdlcModemSlot.h"
#include "slots/ModemFactory.h"
#include "board/netif.h"

namespace modemtest {

using namespace slotstest;
using Strings = std::vector<std::string>;

class RecordingLauncher : public ChildLauncher {
 public:
  int Start(const std::vector<std::string>& argv, const Prelude& prelude) override {
    if (failWith) {
      errno = failWith;
      return -1;
    }
    started.push_back(argv);
    preludes.push_back(prelude);
    return nextPid++;
  }
  int Kill(int pid, int signal) override {
    signals.push_back({pid, signal});
    return 0;
  }

  std::vector<std::vector<std::string>> started;
  std::vector<Prelude> preludes;
  std::vector<std::pair<int, int>> signals;
  int nextPid = 4000;
  int failWith = 0;
};

struct ModemOptions {
  std::string cid = "5551234";
  std::vector<int> ddm{};
  std::vector<std::pair<int, int>> dmp{};
  bool originate = false, fax = false;
  std::optional<std::string> execfile{};
  std::optional<std::vector<std::string>> execargs{};
};

inline LGCP::Message create_modem(int seq, unsigned slot, const ModemOptions& o) {
  return slot_command(seq, slot, [&](LGCP::Command& c) {
    TERM::ModemParams& m = c.select_create().select_modem();
    m.set_cid(o.cid);
    m.set_cdid("100");
    if (!o.ddm.empty()) {
      auto& list = m.include_ddm();
      for (int d : o.ddm) list.push_back(TERM::DigitalDataModeEnum(static_cast<TERM::DigitalDataModeEnum::NamedNumber>(d)));
    }
    if (!o.dmp.empty()) {
      auto& list = m.include_dmp();
      for (auto [offset, value] : o.dmp) {
        TERM::DDModemParam p;
        p.set_offset(offset);
        p.set_value(value);
        list.push_back(p);
      }
    }
    if (o.originate) m.include_originate();
    if (o.fax) m.include_fax();
    if (o.execfile) m.set_execfile(*o.execfile);
    if (o.execargs) {
      auto& list = m.include_execargs();
      for (const auto& a : *o.execargs) list.push_back(ASN1::IA5String(a));
    }
  });
}

// `change` may alter the addresses before the activation is sent.
inline LGCP::Message activate_modem(int seq, unsigned slot,
                                    const std::function<void(TERM::ModemUserParameters&)>& change = {}) {
  return slot_command(seq, slot, [&](LGCP::Command& c) {
    TERM::ModemUserParameters& u = c.select_activate().select_modem();
    u.set_remoteAddr("10.1.2.3");
    u.set_netmask("255.255.255.0");
    u.set_gateway("10.1.2.1");
    u.set_dns("10.1.2.53");
    u.set_mtu(1500);
    if (change) change(u);
  });
}

// Answers and signals as text; the modem signals spelt out.
inline std::string modem_text(const srvtest::Answer& a) {
  if (!a.signal()) return stream_text(a);
  const LGCP::Signal& s = a.message.get_pdu().get_signal();
  if (s.is_abort()) return "abort " + std::to_string(s.get_abort().getValue());
  if (s.is_modemProceeding()) {
    const TERM::ModemProceeding& m = s.get_modemProceeding();
    if (m.is_auth()) return "auth " + std::string(m.get_auth().get_username()) + "/" + std::string(m.get_auth().get_password());
    const TERM::MdmAccounting& c = m.get_acct();
    std::string out = "acct";
    for (const BASE::INTEGER64Bits* v : {&c.get_octetsOut(), &c.get_octetsIn(), &c.get_packetsOut(), &c.get_packetsIn(), &c.get_time()})
      out += " " + std::to_string(v->get_high().getValue()) + ":" + std::to_string(v->get_low().getValue());
    return out;
  }
  return stream_text(a);
}

// A record of the channel as the PPP side writes it.
template <class R>
std::string bytes_of(const R& r) {
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

inline voauth auth_request(int session, const char* user, const char* password) {
  voauth r{};
  r.head = {sizeof r, auth::kRequest, session};
  std::strncpy(r.username, user, sizeof r.username);
  std::strncpy(r.password, password, sizeof r.password);
  return r;
}

inline voacct accounting(int session) {
  voacct r{};
  r.head = {sizeof r, auth::kAccounting, session};
  r.octetsOutHigh = 1, r.octetsOutLow = 2, r.octetsInHigh = 3, r.octetsInLow = 4;
  r.packetsOutHigh = 5, r.packetsOutLow = 6, r.packetsInHigh = 7, r.packetsInLow = 8;
  r.sessionTime = 99;
  return r;
}

inline std::string header_only(uint32_t length, uint32_t kind, int session) {
  attr a{length, kind, session};
  return bytes_of(a);
}

class ModemTest : public SlotsTest {
 protected:
  void SetUp() override {
    SlotsTest::SetUp();
    // Only the modem side: the switch keeps what HwMux set up for the other tests.
    sim().modem().reset();
    sim().netif().reset();
    sim().fail_open(board::sim::Device::mctl, 0);
    sim().fail_next(board::sim::Device::mctl, 0, 0);
    sim().clear_requests();
    sim().netif().add("hdlc0", 200);
    sim().netif().add("hdlc1", 201);
    sim().netif().add("hdlc2", 202, IFF_POINTOPOINT | IFF_LOOPBACK);  // not offered
    ChildLauncher::current = &launcher;
    factory = std::make_unique<ModemFactory>(0);
    streams.clear();
  }
  void TearDown() override {
    SlotsTest::TearDown();
    factory.reset();
    ChildLauncher::current = saved;
  }
  static board::sim::SimBoard& sim() { return board::sim::SimBoard::instance(); }

  std::vector<std::string> got() {
    std::vector<std::string> out;
    for (const auto& a : answers()) out.push_back(modem_text(a));
    return out;
  }
  template <class S = ModemSlot>
  S* modem(unsigned n) {
    return dynamic_cast<S*>(slots.Find(n));
  }
  // Runs loop passes until cond holds (at most a bounded number; each waits 10 ms at most).
  template <class C>
  bool pump(C cond) {
    for (int i = 0; i < 200 && !cond(); ++i) multiplexer.run_once(10);
    return cond();
  }
  void pump_idle() {
    for (int i = 0; i < 5; ++i) multiplexer.run_once(0);
  }
  // A local client of the authentication channel.
  int dial() {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(factory->AuthPort());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    // Taken in ("incoming auth connection") or refused ("too many auth connections").
    const auto said = [&] {
      const std::string err = streams.err.str();
      size_t n = 0;
      for (size_t at = err.find("auth connection"); at != std::string::npos; at = err.find("auth connection", at + 1)) ++n;
      return n;
    };
    const size_t before = said();
    pump([&] { return said() > before; });
    return s;
  }
  void write_to(int s, const std::string& bytes) { ASSERT_EQ(::write(s, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
  // What the daemon wrote to the client, waiting for `want` bytes.
  std::string take(int s, size_t want) {
    std::string out;
    pump([&] {
      char buf[512];
      ssize_t n = ::recv(s, buf, sizeof buf, MSG_DONTWAIT);
      if (n > 0) out.append(buf, size_t(n));
      return out.size() >= want;
    });
    return out;
  }
  bool closed_by_daemon(int s) {
    return pump([&] {
      char c;
      return ::recv(s, &c, 1, MSG_DONTWAIT) == 0;
    });
  }

  RecordingLauncher launcher;
  ChildLauncher* saved = ChildLauncher::current;
  std::unique_ptr<ModemFactory> factory;
};

}  // namespace modemtest
