// The software T.38 slot with the stand-in engine (tests/e2e/t38_standin.py) installed under a
// private path root: the instance query, the engine's argument list and channel, and the ends
// of the engine that the controller hears of.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "board/mcc.h"
#include "foundation/Escaped.h"
#include "foundation/ChildWait.h"
#include "slots/T38SoftFactory.h"
#include "slots/T38SoftSlot.h"
#include "tests/slots/MediaFixture.h"
#include "tests/support/UdpPeer.h"

namespace {

using namespace mediatest;
namespace fs = std::filesystem;

class T38Test : public MediaTest {
 protected:
  void SetUp() override {
    MediaTest::SetUp();
    ChildWait::Activate();
    fs::create_directories(sbin());
  }
  std::string sbin() const { return root.path() + "/usr/local/sbin"; }
  void install() {
    fs::copy_file(VX_TEST_SOURCE_DIR "/../e2e/t38_standin.py", sbin() + "/t38", fs::copy_options::overwrite_existing);
  }
  void instances(const std::string& reply) { std::ofstream(sbin() + "/t38.instances") << reply; }
  // The argument lists the engine was started with, one per line.
  std::vector<std::string> starts() {
    std::ifstream in(sbin() + "/t38.log");
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
  int create(uint16_t dport, int extra = 0, unsigned slot = 3, const std::string& host = "127.0.0.1",
             const std::vector<std::string>& args = {}) {
    return MediaTest::create([&](LGCP::CreateParams& p) {
      LGCP::T38Soft& t = p.select_t38soft();
      t.get_dhost().set_iaddr(host);
      t.get_dhost().set_port(dport);
      t.get_shost().set_iaddr("10.0.0.1");
      t.get_shost().set_port(4002);
      t.set_rx_packet_size(160);
      t.set_rx_threshold(2);
      t.set_tx_threshold(3);
      for (int i = 0; i < extra; ++i) t.get_args().push_back(ASN1::IA5String("a" + std::to_string(i)));
      for (const auto& a : args) t.get_args().push_back(ASN1::IA5String(a));
    }, slot);
  }
  T38SoftSlot* slot(unsigned n = 3) { return dynamic_cast<T38SoftSlot*>(Slots::instance()->Find(n)); }
  std::optional<int> abort_status() {
    for (const auto& s : ctl.signals()) aborts.push_back(s);
    for (const auto& s : aborts)
      if (s.is_abort()) return s.get_abort().getValue();
    return std::nullopt;
  }

  PathRoot root{"vx_t38"};
  T38SoftFactory factory;
  std::vector<LGCP::Signal> aborts;
};

TEST_F(T38Test, TheInstanceQueryAsksTheEngine) {
  EXPECT_EQ(query().get_t38_instances(), 0);
  install();
  const std::pair<const char*, int> replies[] = {{nullptr, 4}, {"12\n", 12}, {"", 0}, {"-3\n", 0}};
  for (const auto& [reply, count] : replies) {
    if (reply) instances(reply);
    EXPECT_EQ(query().get_t38_instances(), count) << (reply ? reply : "default");
  }
  EXPECT_TRUE(logged("t38: can't detect T38 resources")) << "an empty reply is told apart";
  instances(std::string(100, '7'));
  EXPECT_EQ(query().get_t38_instances(), INT_MAX) << "one bounded line, no wrap";

  // An engine that does not finish its line is killed at the time limit; what it said counts.
  factory.queryTimeoutMs = 100;
  for (const auto& [script, count] : {std::pair{"exec sleep 30", 0}, std::pair{"printf 12; exec sleep 30", 12}}) {
    std::ofstream(sbin() + "/t38") << "#!/bin/sh\n" << script << "\n";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(factory.QueryNumOfInstances(), count) << script;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << script;
  }
}

TEST_F(T38Test, TheEngineRunsOnTheChannelWithItsArgumentList) {
  install();
  vxtest::UdpPeer peer;
  ASSERT_EQ(create(peer.port, 30), hwtest::kSuccess) << log.all();
  auto alloc = requests(Device::mcc, board::mcc::MCC_ALLOCATE);
  ASSERT_EQ(alloc.size(), 1u);
  EXPECT_EQ(alloc[0].bytes(), (std::vector<uint8_t>{0, 0, 0, 2, 0, 0, 0, 160, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 3}));
  T38SoftSlot* s = slot();
  ASSERT_NE(s, nullptr);
  EXPECT_GT(s->pid, 0);
  const int ts = s->timeslot;
  auto signals = ctl.signals();
  ASSERT_EQ(signals.size(), 2u);
  EXPECT_TRUE(signals[0].is_transmitter() && signals[0].get_transmitter().get_active() == ts);
  EXPECT_TRUE(signals[1].is_receiver() && signals[1].get_receiver().get_active() == ts);

  // 30 extra arguments: the first 27 fit.
  ASSERT_TRUE(pump([&] { return !starts().empty(); }));
  std::ostringstream want;
  want << "[\"--child\", \"--remote\", \"127.0.0.1/" << peer.port << "/4002\"";
  for (int i = 0; i < 27; ++i) want << ", \"a" << i << "\"";
  want << "]";
  EXPECT_EQ(starts()[0], want.str());

  // The channel is the engine's standard input, both ways.
  ASSERT_TRUE(pump([&] { return !sim().frames_sent(ts).empty(); }));
  EXPECT_EQ(sim().frames_sent(ts)[0], (board::sim::Bytes{'T', '3', '8', ' ', 'R', 'E', 'A', 'D', 'Y'}));
  ASSERT_TRUE(sim().hdlc_frame(ts, board::sim::Bytes{'f', 'a', 'x'}));
  std::string relayed;
  ASSERT_TRUE(pump([&] {
    const vxtest::Bytes got = peer.receive();
    relayed.assign(got.begin(), got.end());
    return !relayed.empty();
  }));
  EXPECT_EQ(relayed, "fax");
  EXPECT_EQ(sim().open_count(Device::mcc), 1) << "only the engine holds the channel";

  // Destroying the slot ends the engine.
  const int pid = s->pid;
  ASSERT_EQ(simple(&LGCP::Command::set_destroy), hwtest::kSuccess);
  ASSERT_TRUE(pump([&] { return ::kill(pid, 0) != 0; }));
  ASSERT_TRUE(pump([&] { return sim().open_count(Device::mcc) == 0; }));
  EXPECT_FALSE(abort_status());
}

TEST_F(T38Test, AnEngineThatEndsOnItsOwnIsReported) {
  install();
  vxtest::UdpPeer peer;
  ASSERT_EQ(create(peer.port), hwtest::kSuccess);
  const int ts = slot()->timeslot;
  ASSERT_TRUE(pump([&] { return !sim().frames_sent(ts).empty(); }));
  ASSERT_TRUE(sim().hangup_channel(ts));
  ASSERT_TRUE(pump([&] { return abort_status().has_value(); })) << log.all();
  EXPECT_EQ(*abort_status(), 3 << 8);
  EXPECT_EQ(slot()->pid, -1);
  ASSERT_EQ(simple(&LGCP::Command::set_destroy), hwtest::kSuccess) << "the slot stays until destroyed";

  // An engine killed by a signal, and one that cannot be executed.
  ASSERT_EQ(create(peer.port, 0, 4), hwtest::kSuccess);
  aborts.clear();
  ASSERT_TRUE(pump([&] { return !starts().empty() && starts().size() == 2; }));
  ::kill(slot(4)->pid, SIGKILL);
  ASSERT_TRUE(pump([&] { return abort_status().has_value(); }));
  EXPECT_EQ(*abort_status(), SIGKILL);

  fs::permissions(sbin() + "/t38", fs::perms::owner_read | fs::perms::owner_write);
  aborts.clear();
  ASSERT_EQ(create(peer.port, 0, 5), hwtest::kSuccess);
  ASSERT_TRUE(pump([&] { return abort_status().has_value(); }));
  EXPECT_EQ(*abort_status(), 237 << 8) << "1005 as an exit status";
}

TEST_F(T38Test, ARemoteThatIsNoHostOrAnArgumentWithANulIsRefused) {
  install();
  const std::string hosts[] = {"10.0.0.5/9/9", "", "10.0.0.300", "10.0.0.5 junk", std::string("10.0.0.5\0" "9", 10)};
  for (const std::string& host : hosts) {
    EXPECT_EQ(create(4000, 0, 3, host), LGCP::ErrorCause::insufficientResources) << ext::escaped(host);
    EXPECT_TRUE(logged("t38soft: t38 refused: bad address " + ext::escaped(host) + "\n")) << ext::escaped(host);
  }
  EXPECT_EQ(create(4000, 0, 3, "127.0.0.1", {"ok", std::string("a\0b", 3), "z"}), LGCP::ErrorCause::insufficientResources);
  EXPECT_TRUE(logged("t38 refused: NUL byte in argument a\\x00b"));
  EXPECT_TRUE(requests(Device::mcc, board::mcc::MCC_ALLOCATE).empty()) << "no channel taken, no engine started";

  // Host names stay the engine's to resolve.
  vxtest::UdpPeer peer;
  ASSERT_EQ(create(peer.port, 0, 3, "localhost"), hwtest::kSuccess) << log.all();
  ASSERT_TRUE(pump([&] { return !starts().empty(); }));
  EXPECT_EQ(starts()[0], "[\"--child\", \"--remote\", \"localhost/" + std::to_string(peer.port) + "/4002\"]");
  ASSERT_EQ(simple(&LGCP::Command::set_destroy), hwtest::kSuccess);
  EXPECT_TRUE(pump([&] { return sim().open_count(Device::mcc) == 0; })) << "the engine is gone with its channel";
}

TEST_F(T38Test, ChannelFailuresRefuseTheCreate) {
  install();
  sim().fail_open(Device::mcc, ENODEV);
  EXPECT_EQ(create(4000), LGCP::ErrorCause::insufficientResources);
  sim().fail_open(Device::mcc, 0);
  sim().fail_next(Device::mcc, ENOSPC);
  EXPECT_EQ(create(4000), LGCP::ErrorCause::insufficientResources);
  sim().fail_next(Device::mcc, EIO, 2);
  EXPECT_EQ(create(4000), LGCP::ErrorCause::insufficientResources);
  sim().fail_next(Device::mcc, 0);
  EXPECT_TRUE(starts().empty()) << "no engine without a channel";
  EXPECT_EQ(sim().open_count(Device::mcc), 0);
}

}  // namespace
