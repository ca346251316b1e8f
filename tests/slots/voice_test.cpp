// Voice play and record slots on the simulated board: prompt lists played into the controller
// channel byte for byte, network players and recorders against TCP servers of the test, and
// what the controller hears when a list, a connection or a stream ends.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "board/mcc.h"
#include "hardware/HwMux.h"
#include "slots/ExtFactory.h"
#include "slots/VoiceFactory.h"
#include "slots/VoiceSlot.h"
#include "tests/slots/MediaFixture.h"
#include "tests/support/FileDate.h"

namespace {

using namespace mediatest;
using Bytes = std::vector<uint8_t>;

// A TCP server on a free loopback port.
struct Server {
  Fd listener{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)};
  uint16_t port = 0;
  Fd peer;
  Server() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener.get(), 4);
    socklen_t n = sizeof a;
    ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&a), &n);
    port = ntohs(a.sin_port);
  }
  bool accepted() {
    if (!peer) peer.reset(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    return static_cast<bool>(peer);
  }
  // What arrived so far (appended to `got`); false once the peer closed.
  bool read(Bytes& got) {
    uint8_t buf[4096];
    for (;;) {
      const ssize_t n = ::recv(peer.get(), buf, sizeof buf, MSG_DONTWAIT);
      if (n > 0) got.insert(got.end(), buf, buf + n);
      if (n == 0) return false;
      if (n < 0) return true;
    }
  }
};

// A port on which nothing listens.
uint16_t closed_port() {
  Server s;
  return s.port;
}

Bytes pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return b;
}

class VoiceTest : public MediaTest {
 protected:
  void SetUp() override {
    MediaTest::SetUp();
    std::filesystem::create_directories(root.path() + "/usr/local/voice/sub");
    std::filesystem::create_directories(root.path() + "/usr/local/etc");
    write("/usr/local/etc/secret", Bytes{'s', 'e', 'c', 'r', 'e', 't'});
    // The sink that the players feed and the source that feeds the recorders.
    LGCP::Command c;
    LGCP::ExtParams& e = c.select_create().select_ext();
    e.set_transmitter(30);
    e.set_receiver(HwMux::kFirstOutput + 3);
    send(c, kExt);
    LGCP::Command a;
    a.select_activate().select_empty();
    send(a, kExt);
    ctl.signals();
  }
  void write(const std::string& path, const Bytes& bytes) {
    std::ofstream(root.path() + path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                              static_cast<std::streamsize>(bytes.size()));
  }
  int play(std::vector<std::string> names, int repeat, unsigned slot = 3) {
    return create([&](LGCP::CreateParams& p) {
      LGCP::PlayerParams_file& f = p.select_voice().select_player().select_file();
      for (const auto& n : names) f.get_name().push_back(ASN1::IA5String(n));
      f.set_repeat(repeat);
    }, slot);
  }
  int play_network(const std::string& addr, int port, int id, unsigned slot = 3) {
    return create([&](LGCP::CreateParams& p) {
      LGCP::PlayerParams_network& n = p.select_voice().select_player().select_network();
      n.get_host().set_iaddr(addr);
      n.get_host().set_port(port);
      n.set_id(id);
    }, slot);
  }
  int record(const std::string& addr, int port, unsigned slot = 3) {
    return create([&](LGCP::CreateParams& p) {
      TERM::HostAddress& h = p.select_voice().select_record();
      h.set_iaddr(addr);
      h.set_port(port);
    }, slot);
  }
  // The bytes the daemon wrote on a controller channel, frames joined.
  static Bytes written(int channel) {
    Bytes all;
    for (const auto& f : sim().frames_sent(channel)) all.insert(all.end(), f.begin(), f.end());
    return all;
  }
  int timeslot(unsigned slot = 3) {
    auto* v = dynamic_cast<VoiceSlot*>(Slots::instance()->Find(slot));
    return v ? (v->IGetTransmitChannel() >= 0 ? v->IGetTransmitChannel() : v->IGetReceiveChannel()) : -1;
  }
  // The signals so far, kept for the checks that follow.
  std::vector<LGCP::Signal>& signals() {
    for (auto& s : ctl.signals()) seen.push_back(s);
    return seen;
  }
  int count(bool (LGCP::Signal::*is)() const) {
    int n = 0;
    for (const auto& s : signals()) n += (s.*is)() ? 1 : 0;
    return n;
  }

  static constexpr unsigned kExt = 40;
  PathRoot root{"vx_voice"};
  ExtFactory ext;
  VoiceFactory factory;
  std::vector<LGCP::Signal> seen;
};

TEST_F(VoiceTest, APromptListPlaysItsFilesByteForByteAsOftenAsAsked) {
  const Bytes a = pattern(3000, 1), b = pattern(20000, 2);
  write("/usr/local/voice/a.raw", a);
  write("/usr/local/voice/sub/b.raw", b);
  ASSERT_EQ(play({"a.raw", "missing.raw", "sub/b.raw"}, 2), hwtest::kSuccess) << log.all();
  auto alloc = requests(Device::mcc, board::mcc::MCC_ALLOCATE);
  ASSERT_EQ(alloc.size(), 1u);
  EXPECT_EQ(alloc[0].bytes(), (Bytes{0, 0, 0, 2, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5}));
  const int ts = timeslot();
  EXPECT_TRUE(signals().empty()) << "nothing plays before the output is connected";
  EXPECT_TRUE(written(ts).empty());

  ASSERT_EQ(connect(3, kExt), hwtest::kSuccess) << log.all();
  EXPECT_EQ(sim().state().mux.entry(HwMux::kFirstOutput + 3).source, ts);
  ASSERT_TRUE(pump([&] { return count(&LGCP::Signal::is_abort) > 0; })) << log.all();
  Bytes want = a;
  want.insert(want.end(), b.begin(), b.end());
  want.insert(want.end(), want.begin(), want.end());
  EXPECT_EQ(written(ts), want);
  for (const auto& f : sim().frames_sent(ts)) EXPECT_LE(f.size(), 8192u);
  auto& s = signals();
  ASSERT_EQ(s.size(), 3u);
  EXPECT_TRUE(s[0].is_transmitter() && s[0].get_transmitter().is_active());
  EXPECT_TRUE(s[1].is_transmitter() && s[1].get_transmitter().is_inactive());
  EXPECT_TRUE(s[2].is_abort() && s[2].get_abort() == 0);
  EXPECT_EQ(Slots::instance()->Find(kExt)->source, nullptr) << "the ended output let its sink go";

  // Connected again, the list is not started a second time.
  pass(3);
  EXPECT_EQ(written(ts).size(), want.size());
}

TEST_F(VoiceTest, APromptDatedPast2038PlaysAsAnyOther) {
  const Bytes a = pattern(700, 5);
  write("/usr/local/voice/late.raw", a);
  ASSERT_EQ(vxtest::date_file(root.path() + "/usr/local/voice/late.raw", vxtest::k2040), 0);
  ASSERT_EQ(play({"late.raw"}, 1), hwtest::kSuccess) << log.all();
  const int ts = timeslot();
  ASSERT_EQ(connect(3, kExt), hwtest::kSuccess) << log.all();
  ASSERT_TRUE(pump([&] { return count(&LGCP::Signal::is_abort) > 0; })) << log.all();
  EXPECT_EQ(written(ts), a);
}

TEST_F(VoiceTest, RepeatZeroPlaysUntilTheSlotIsDestroyed) {
  const Bytes a = pattern(500, 9);
  write("/usr/local/voice/a.raw", a);
  ASSERT_EQ(play({"a.raw"}, 0), hwtest::kSuccess);
  const int ts = timeslot();
  ASSERT_EQ(connect(3, kExt), hwtest::kSuccess);
  ASSERT_TRUE(pump([&] { return written(ts).size() >= 5 * a.size(); }));
  EXPECT_EQ(count(&LGCP::Signal::is_abort), 0);
  ASSERT_EQ(simple(&LGCP::Command::set_destroy), hwtest::kSuccess);
  pass(3);
  EXPECT_EQ(written(ts).size() % a.size(), 0u);
  EXPECT_TRUE(factory.players.empty());
}

TEST_F(VoiceTest, NamesThatLeaveThePromptFolderAreNotRead) {
  EXPECT_TRUE(PlaySlotFile::SafeName("a.raw"));
  EXPECT_TRUE(PlaySlotFile::SafeName("sub/b.raw"));
  EXPECT_TRUE(PlaySlotFile::SafeName("..raw"));
  for (const char* bad : {"", "/etc/secret", "..", "../etc/secret", "sub/../../etc/secret", "sub/..", "a/../b"})
    EXPECT_FALSE(PlaySlotFile::SafeName(bad)) << bad;
  EXPECT_FALSE(PlaySlotFile::SafeName(std::string("a\0b", 3)));

  // A list with nothing playable refuses the output and says "abort" once.
  ASSERT_EQ(play({"../etc/secret", "../../usr/local/etc/secret", "/usr/local/etc/secret", "missing"}, 1),
            hwtest::kSuccess);
  const int ts = timeslot();
  EXPECT_EQ(connect(3, kExt), LGCP::ErrorCause::connectFail);
  pass(5);
  EXPECT_EQ(count(&LGCP::Signal::is_abort), 1);
  EXPECT_TRUE(written(ts).empty());
}

TEST_F(VoiceTest, ANetworkPlayerSendsItsIdFirstThenPlaysWhatTheServerSends) {
  Server server;
  ASSERT_EQ(play_network("127.0.0.1", server.port, 0x01020304), hwtest::kSuccess);
  const int ts = timeslot();
  ASSERT_EQ(connect(3, kExt), hwtest::kSuccess);
  ASSERT_TRUE(pump([&] { return server.accepted(); }));
  Bytes id;
  ASSERT_TRUE(pump([&] { return server.read(id), id.size() >= 4; }));
  EXPECT_EQ(id, (Bytes{1, 2, 3, 4})) << "most significant byte first";
  ASSERT_TRUE(pump([&] { return count(&LGCP::Signal::is_ioctl) == 1; }));
  EXPECT_TRUE(signals().back().get_ioctl().is_startPlaying());

  const Bytes samples = pattern(5000, 3);
  ASSERT_EQ(::send(server.peer.get(), samples.data(), samples.size(), 0), static_cast<ssize_t>(samples.size()));
  server.peer.close();
  ASSERT_TRUE(pump([&] { return count(&LGCP::Signal::is_abort) == 1; })) << log.all();
  EXPECT_EQ(written(ts), samples);
  EXPECT_EQ(count(&LGCP::Signal::is_transmitter), 2);
  // A later connection of the output does not reconnect.
  ASSERT_EQ(connect(3, kExt), hwtest::kSuccess);
  pass(3);
  EXPECT_FALSE(server.accepted());
}

TEST_F(VoiceTest, AFailedConnectionIsReportedAndHostsThatAreNoAddressAreRefused) {
  ASSERT_EQ(play_network("127.0.0.1", closed_port(), 7), hwtest::kSuccess);
  ASSERT_EQ(connect(3, kExt), hwtest::kSuccess);
  ASSERT_TRUE(pump([&] { return count(&LGCP::Signal::is_abort) == 1; }));

  ASSERT_EQ(record("127.0.0.1", closed_port(), 4), hwtest::kSuccess);
  ASSERT_EQ(connect(kExt, 4), hwtest::kSuccess);
  ASSERT_TRUE(pump([&] { return count(&LGCP::Signal::is_ioctl) == 1; }));
  const LGCP::Signal& stop = signals().back();
  ASSERT_TRUE(stop.is_ioctl() && stop.get_ioctl().is_stopRecording());
  EXPECT_EQ(stop.get_ioctl().get_stopRecording().getValue(), LGCP::StopRecordingCause::connectionFail);

  sim().clear_requests();
  for (const char* bad : {"10.0.0.300", "player.example", "", "1.2.3.4:5"}) {
    EXPECT_EQ(play_network(bad, 4000, 1, 5), LGCP::ErrorCause::insufficientResources) << bad;
    EXPECT_EQ(record(bad, 4000, 5), LGCP::ErrorCause::insufficientResources) << bad;
  }
  EXPECT_TRUE(requests(Device::mcc, board::mcc::MCC_ALLOCATE).empty()) << "no channel for a refused host";
}

TEST_F(VoiceTest, ARecorderStreamsItsChannelToTheServerByteForByte) {
  Server server;
  ASSERT_EQ(record("127.0.0.1", server.port), hwtest::kSuccess);
  auto alloc = requests(Device::mcc, board::mcc::MCC_ALLOCATE);
  ASSERT_EQ(alloc.size(), 1u);
  EXPECT_EQ(alloc[0].bytes(), (Bytes{0, 0, 0, 2, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0}));
  const int ts = timeslot();
  ASSERT_EQ(count(&LGCP::Signal::is_receiver), 1);
  EXPECT_EQ(signals()[0].get_receiver().get_active(), ts);

  ASSERT_EQ(connect(kExt, 3), hwtest::kSuccess);
  EXPECT_EQ(sim().state().mux.entry(ts).source, 30);
  ASSERT_TRUE(pump([&] { return server.accepted(); }));
  Bytes want, got;
  for (int i = 0; i < 20; ++i) {
    const Bytes frame = pattern(160 + i, static_cast<uint8_t>(i));
    want.insert(want.end(), frame.begin(), frame.end());
    ASSERT_TRUE(pump([&] { return sim().hdlc_frame(ts, frame); }));
  }
  ASSERT_TRUE(pump([&] { return server.read(got), got.size() >= want.size(); }));
  EXPECT_EQ(got, want);
  EXPECT_EQ(count(&LGCP::Signal::is_ioctl), 0) << "no signal when recording starts";

  // The channel's normal end is the controller's own request.
  ASSERT_TRUE(sim().hangup_channel(ts));
  ASSERT_TRUE(pump([&] { return count(&LGCP::Signal::is_ioctl) == 1; })) << log.all();
  EXPECT_EQ(signals().back().get_ioctl().get_stopRecording().getValue(), LGCP::StopRecordingCause::userRequest);
  EXPECT_FALSE(server.read(got)) << "the server sees the end";
}

TEST_F(VoiceTest, AServerThatGoesAwayAbortsTheRecording) {
  Server server;
  ASSERT_EQ(record("127.0.0.1", server.port), hwtest::kSuccess);
  const int ts = timeslot();
  ASSERT_EQ(connect(kExt, 3), hwtest::kSuccess);
  ASSERT_TRUE(pump([&] { return server.accepted(); }));
  server.peer.close();
  const Bytes frame = pattern(1000, 5);
  ASSERT_TRUE(pump([&] {
    sim().hdlc_frame(ts, frame);
    return count(&LGCP::Signal::is_ioctl) == 1;
  })) << log.all();
  EXPECT_EQ(signals().back().get_ioctl().get_stopRecording().getValue(), LGCP::StopRecordingCause::connectionAborted);
}

TEST_F(VoiceTest, ChannelsThatCannotBeSetUpRefuseTheCreate) {
  write("/usr/local/voice/a.raw", Bytes{1});
  sim().fail_open(Device::mcc, EACCES);
  EXPECT_EQ(play({"a.raw"}, 1), LGCP::ErrorCause::insufficientResources);
  EXPECT_EQ(record("127.0.0.1", 4000), LGCP::ErrorCause::insufficientResources);
  sim().fail_open(Device::mcc, 0);
  sim().fail_next(Device::mcc, EBUSY);
  EXPECT_EQ(play({"a.raw"}, 1), LGCP::ErrorCause::insufficientResources);
  sim().fail_next(Device::mcc, EIO, 2);
  EXPECT_EQ(play({"a.raw"}, 1), LGCP::ErrorCause::insufficientResources);
  sim().fail_next(Device::mcc, 0);
  EXPECT_EQ(sim().open_count(Device::mcc), 0) << "every failure closes its channel";
  EXPECT_TRUE(factory.players.empty());
}

}  // namespace
