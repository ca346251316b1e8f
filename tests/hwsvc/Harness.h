#pragma once
// The hardware service tests' controller: a control server with the test at the far end of a
// socket pair (commands in, answers and signals decoded back out), and a clean simulated board.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <initializer_list>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "asn1/CoderEnv.h"
#include "asn1/schemas/ACP.h"
#include "asn1/schemas/LGCP.h"
#include "board/sim/SimBoard.h"
#include "control/CtrlSrvServer.h"
#include "control/CtrlSrvService.h"
#include "control/ServiceUnix.h"
#include "foundation/Multiplexer.h"
#include "foundation/Mux.h"
#include "tests/support/CaptureStreams.h"
#include "tests/support/TestClock.h"

namespace hwtest {

using board::sim::Device;
using board::sim::Request;
using board::sim::SimBoard;

inline SimBoard& sim() { return SimBoard::instance(); }

using Capture = vxtest::CaptureStreams;

// Moving the clock also lets the loop fire what fell due.
class TestClock : public vxtest::TestClock {
 public:
  void advance(uint32_t ms) {
    vxtest::TestClock::advance(ms);
    multiplexer.run_once(0);
  }
};

// Puts back what earlier tests may have changed on the shared simulated board. The board is
// never reset as a whole: that would hang up the switch that the process keeps open.
inline void clean_board() {
  for (int d = 0; d < board::sim::kDevices; ++d) {
    sim().fail_next(static_cast<Device>(d), 0, 0);
    sim().fail_open(static_cast<Device>(d), 0);
  }
  auto& s = sim().state();
  s.clock_source = -1;
  s.spi_present = true;
  for (auto& channel : s.spi) channel.fill(0);
  s.tclk_mask = 0;
  s.trunks = {};
  s.cas_trunk_open = {};
  s.cas = {};
  sim().clear_requests();
}

inline std::vector<Request> requests(Device device, uint32_t number) { return sim().requests(device, number); }

// A device's logged requests (of one kind, or all) as text, in order.
inline std::vector<std::string> texts(Device device, std::optional<uint32_t> number = {}) {
  std::vector<std::string> out;
  for (const Request& r : number ? requests(device, *number) : sim().requests(device)) out.push_back(r.text());
  return out;
}

inline int64_t arg(const Request& r, const char* name) {
  auto v = r.arg(name);
  EXPECT_TRUE(v.has_value()) << "no field " << name << " in " << r.text();
  return v.value_or(-1);
}

// One field of every logged request of one kind, in order.
inline std::vector<int64_t> args(Device device, uint32_t number, const char* name) {
  std::vector<int64_t> out;
  for (const Request& r : requests(device, number)) out.push_back(arg(r, name));
  return out;
}

// As a fixture's first member: the board is clean before the services under test are built.
struct CleanBoard {
  CleanBoard() { clean_board(); }
};

class Link : public Control::ServiceUnix {
 public:
  bool ImplActivate() override { return true; }
  void ImplDeactivate() override {}
  void ImplOnDisconnect() override {}
  void Take(int fd) {
    Fd f(fd);
    f.NonBlock();
    Connected(f, "controller");
  }
};

class Controller {
 public:
  explicit Controller(std::initializer_list<CtrlSrv::Service*> services) {
    for (CtrlSrv::Service* s : services) server.Bind(s);
    link_ = new Link;
    server.Activate(link_);
  }
  ~Controller() {
    server.Deactivate();
    if (peer_ >= 0) ::close(peer_);
  }

  void connect() {
    int sv[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    peer_ = sv[1];
    link_->Take(sv[0]);
  }
  void disconnect() { server.OnDisconnect(); }

  // One command as the controller sends it (for a slot, with its number); the messages it
  // produced are collected.
  void send(const LGCP::Command& command, int seq = 7, std::optional<unsigned> slot = {}) {
    LGCP::Message m;
    m.set_seq(seq);
    if (slot) m.set_slot(*slot);
    m.get_pdu().set_command(command);
    static const ASN1::CoderEnv env(ASN1::CoderEnv::per);
    std::vector<char> bytes;
    ASSERT_TRUE(ASN1::encode(m, &env, std::back_inserter(bytes)));
    server.OnMessage(bytes.data(), static_cast<int>(bytes.size()));
  }

  // Every message written to the controller since the last call, decoded.
  std::vector<LGCP::Message> received() {
    uint8_t buf[65536];
    for (;;) {
      const ssize_t n = ::recv(peer_, buf, sizeof buf, MSG_DONTWAIT);
      if (n <= 0) break;
      pending_.insert(pending_.end(), buf, buf + n);
    }
    std::vector<LGCP::Message> out;
    static const ASN1::CoderEnv env(ASN1::CoderEnv::per);
    while (pending_.size() >= 4) {
      const size_t len = (size_t{pending_[2]} << 8) | pending_[3];
      if (len < 4 || pending_.size() < len) break;
      LGCP::Message m;
      EXPECT_TRUE(ASN1::decode(pending_.data() + 4, pending_.data() + len, &env, m));
      out.push_back(m);
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(len));
    }
    return out;
  }

  // The answers among the received messages: -1 for success, else the error cause.
  std::vector<int> answers() {
    split();
    return std::exchange(answers_, {});
  }
  std::vector<LGCP::Signal> signals() {
    split();
    return std::exchange(signals_, {});
  }
  size_t status_count() {
    size_t n = 0;
    for (const LGCP::Signal& s : signals()) n += s.is_trunkStatus() ? 1 : 0;
    return n;
  }
  // The one answer to the last command.
  int answer() {
    std::vector<int> a = answers();
    EXPECT_EQ(a.size(), 1u);
    return a.empty() ? -2 : a.back();
  }

  CtrlSrv::Server server;

 private:
  void split() {
    for (const LGCP::Message& m : received()) {
      const LGCP::PDU& pdu = m.get_pdu();
      if (pdu.is_response())
        answers_.push_back(pdu.get_response().is_success() ? -1 : pdu.get_response().get_error().getValue());
      else if (pdu.is_signal())
        signals_.push_back(pdu.get_signal());
    }
  }

  Link* link_ = nullptr;
  int peer_ = -1;
  std::vector<uint8_t> pending_;
  std::vector<int> answers_;
  std::vector<LGCP::Signal> signals_;
};

constexpr int kSuccess = -1;

// A "cas" signal as (trunk, timeslot, rx, tx).
struct Cas {
  int trunk, timeslot, rx, tx;
  bool operator==(const Cas&) const = default;
};
inline std::vector<Cas> cas_signals(const std::vector<LGCP::Signal>& signals) {
  std::vector<Cas> out;
  for (const LGCP::Signal& s : signals) {
    if (!s.is_cas()) continue;
    const LGCP::CasSignalling& c = s.get_cas();
    out.push_back({c.get_channel().get_path().getValue(), c.get_channel().get_timeslot().getValue(),
                   c.get_rx().getValue(), c.get_tx().getValue()});
  }
  return out;
}

inline std::vector<const ACP::TrunkStatus*> trunk_statuses(const std::vector<LGCP::Signal>& signals) {
  std::vector<const ACP::TrunkStatus*> out;
  for (const LGCP::Signal& s : signals)
    if (s.is_trunkStatus()) out.push_back(&s.get_trunkStatus());
  return out;
}
// The pointers would outlive a temporary list.
void trunk_statuses(std::vector<LGCP::Signal>&&) = delete;

}  // namespace hwtest
