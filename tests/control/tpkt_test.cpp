// TPKT framing: cutting at every chunk boundary, malformed headers, the partial-frame timer,
// an exhausted packet pool, outgoing frames (dissected by tshark as an independent check),
// and the trace listener that frames per client.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "control/ProtocolsFamily.h"
#include "control/TPKTTracer.h"
#include "control/Tpkt_protocol.h"
#include "foundation/Packet.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"
#include "tests/support/UdpCapture.h"

namespace {

using vxtest::count;
using vxtest::frame;
using Bytes = std::vector<uint8_t>;
using Strings = std::vector<std::string>;

class Owner : public ProtocolsFamily {
 public:
  Owner() { add_protocol_tail(tpkt = new Tpkt_protocol); }
  void on_message(Packet& p) override { got.emplace_back(reinterpret_cast<const char*>(p.data()), p.length()); }
  void transmit(Packet& p) override { sent.assign(p.data(), p.data() + p.length()); }
  void feed(const uint8_t* data, std::size_t n) {
    Packet p;
    p.reserve_head(0);
    if (n) std::memcpy(p.put(n), data, n);
    ProtocolsFamily::receive(p);
  }
  void feed(const Bytes& v) { feed(v.data(), v.size()); }

  Tpkt_protocol* tpkt;
  Strings got;
  Bytes sent;
};

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(Tpkt, FramesSurviveEverySplitAndMergeInOrder) {
  // One payload holds a frame header of its own, which must not be taken for one.
  const Strings payloads = {"ABC", "", std::string("\x03\x00\x00\x04x", 5), std::string(300, 'q'), "end"};
  Bytes stream;
  for (const auto& p : payloads) stream = concat({stream, frame(p)});
  // The empty frame is only delivered when a further byte follows; the last frame is complete.
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    vxtest::CaptureStreams cap;
    Owner o;
    o.feed(stream.data(), cut);
    o.feed(stream.data() + cut, stream.size() - cut);
    ASSERT_EQ(o.got, payloads) << "split at " << cut;
    EXPECT_EQ(cap.all(), "");
    EXPECT_EQ(o.tpkt->state(), Tpkt_protocol::idle);
  }
  Owner bytewise;
  for (uint8_t b : stream) bytewise.feed(&b, 1);
  EXPECT_EQ(bytewise.got, payloads);

  // The largest frame carries 65531 bytes.
  std::string big(65531, 'z');
  big[0] = 'a';
  big.back() = 'b';
  const auto f = frame(big);
  ASSERT_EQ(f[2], 0xFF);
  ASSERT_EQ(f[3], 0xFF);
  Owner o;
  o.feed(Bytes(f.begin(), f.begin() + 4));
  o.feed(Bytes(f.begin() + 4, f.end()));
  EXPECT_EQ(o.got, Strings{big});
}

TEST(Tpkt, MalformedHeadersAreLoggedAndTheNextFrameIsRead) {
  const struct {
    Bytes bad;
    std::string log;
  } rows[] = {
      {{3, 0, 0, 0}, "TPKT too small 0\n"},
      {{3, 0, 0, 3}, "TPKT too small 3\n"},
      {{3, 1}, "(no name) bad TPKT reserved.\n"},
      {Bytes(1000, 0x55), "(no name) bad TPKT packet start. 1000 byte(s) skipped.\n"},
  };
  for (const auto& row : rows) {
    vxtest::CaptureStreams cap;
    Owner o;
    for (uint8_t b : row.bad) o.feed(&b, 1);  // a bad run gives one line with its count
    o.feed(frame("ok"));
    EXPECT_EQ(o.got, Strings{"ok"});
    EXPECT_EQ(cap.log.str(), row.log);
  }
}

TEST(Tpkt, PartialFrameIsDroppedAfter3000msOfSilence) {
  vxtest::TestClock clock;
  vxtest::CaptureStreams cap;
  Owner o;
  auto wait = [&](unsigned ms) {
    clock.advance(ms);
    vxtest::pump(1);
  };
  o.feed({3, 0, 0, 10, 'a', 'b'});
  wait(2000);
  o.feed({'c'});  // each chunk restarts the timer
  wait(2999);
  EXPECT_EQ(cap.log.str(), "");
  wait(1);
  EXPECT_EQ(cap.log.str(), " TPKT packet timeout.\n");
  EXPECT_EQ(o.tpkt->state(), Tpkt_protocol::idle);
  o.feed(frame("fresh"));  // the bytes after the timeout start a new frame
  EXPECT_EQ(o.got, Strings{"fresh"});

  // An empty frame alone at the end of a chunk waits for a further byte, and times out without.
  cap.clear();
  o.feed({3, 0, 0, 4});
  wait(3000);
  EXPECT_EQ(cap.log.str(), " TPKT packet timeout.\n");
  EXPECT_EQ(o.got.size(), 1u);

  // A garbage run followed by silence is reported by the timer, not held back.
  cap.clear();
  o.feed({9, 9, 9});
  wait(3000);
  EXPECT_EQ(cap.log.str(), "(no name) bad TPKT packet start. 3 byte(s) skipped.\n");
  EXPECT_EQ(multiplexer.timer_count(), 0u);
}

TEST(Tpkt, ExhaustedPoolDropsOnlyTheFrameThatFoundNoBuffer) {
  vxtest::CaptureStreams cap;
  Owner o;
  const auto first = frame("lost");
  Packet chunk;
  chunk.reserve_head(0);
  std::memcpy(chunk.put(first.size()), first.data(), first.size());
  std::vector<Packet> hold = vxtest::exhaust_packet_pool();
  o.ProtocolsFamily::receive(chunk);
  EXPECT_TRUE(o.got.empty());
  EXPECT_EQ(cap.log.str(), "TPKT no packet buffer, frame of 4 bytes dropped.\n");
  hold.clear();
  o.feed(frame("kept"));
  EXPECT_EQ(o.got, Strings{"kept"});
}

TEST(Tpkt, MessageGetsItsHeaderInTheReservedHeadRoom) {
  Owner o;
  Packet p;
  o.prepare_head(p);
  EXPECT_EQ(p.headroom(), 4u);
  std::memcpy(p.put(10), "0123456789", 10);
  o.ProtocolsFamily::message(p);
  EXPECT_EQ(o.sent, frame("0123456789"));

  // A payload that the 16-bit length cannot describe is refused, not wrapped.
  vxtest::CaptureStreams cap;
  o.sent.clear();
  Packet big;
  o.prepare_head(big);
  big.put(65532);
  o.ProtocolsFamily::message(big);
  EXPECT_TRUE(o.sent.empty());
  EXPECT_EQ(count(cap.log.str(), "TPKT payload too big: 65532"), 1);
}

// What a control connection writes is put in a capture file and dissected by tshark as TPKT.
TEST(Tpkt, TsharkDissectsTheWrittenFrames) {
  if (!vxtest::have("tshark") || !vxtest::have("text2pcap")) GTEST_SKIP() << "tshark or text2pcap not installed";
  vxtest::SocketPair sp;
  int big = 1 << 20;
  setsockopt(sp.fd[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  vxtest::TakenService svc;
  ASSERT_TRUE(svc.Activate());
  svc.Take(::dup(sp.fd[0]), "oracle");

  const std::vector<int> sizes = {0, 1, 10, 300, 1456, 4000, 65531};
  vxtest::TempDir tmp("vxtpkt");
  ASSERT_FALSE(tmp.path().empty());
  const std::string pcap = tmp.path() + "/frames.pcap";
  // One TCP segment per frame written, cut at 60000 bytes (what one IP packet carries).
  std::vector<Bytes> segments;
  for (int n : sizes) {
    svc.Send(std::string(n, 'p').data(), n);
    const auto bytes = vxtest::drain(sp.fd[1]);
    for (std::size_t at = 0; at < bytes.size(); at += 60000)
      segments.emplace_back(bytes.begin() + at, bytes.begin() + std::min<std::size_t>(bytes.size(), at + 60000));
  }
  ASSERT_TRUE(vxtest::write_capture(pcap, segments, "-T 40000,20001"));
  const std::string fields = vxtest::run("tshark -r " + pcap +
                                         " -d tcp.port==20001,tpkt -Y tpkt -T fields -E occurrence=a"
                                         " -E aggregator=, -e tpkt.version -e tpkt.reserved -e tpkt.length 2>/dev/null");
  // Each output line: versions, reserved octets and lengths of the frames that packet completes.
  std::string versions, reserved, lengths, want_lengths;
  std::istringstream rows(fields);
  for (std::string v, r, l; std::getline(rows, v, '\t') && std::getline(rows, r, '\t') && std::getline(rows, l);) {
    versions += v + ",";
    reserved += r + ",";
    lengths += l + ",";
  }
  for (int n : sizes) want_lengths += std::to_string(n + 4) + ",";
  EXPECT_EQ(lengths, want_lengths) << fields;
  EXPECT_EQ(versions, "3,3,3,3,3,3,3,");
  EXPECT_EQ(reserved, "0,0,0,0,0,0,0,");
}

// The trace listener: per-client framing and closing of offending clients.
class TracerTest : public ::testing::Test, public TPKTTracer::Receiver {
 protected:
  void SetUp() override {
    port = vxtest::free_port();
    ASSERT_TRUE(tracer.Listen(port));
    tracer.receiver = this;
  }
  void TearDown() override {
    for (int c : clients) ::close(c);
  }
  void OnTrace(const void* data, unsigned length) override {
    got.emplace_back(static_cast<const char*>(data), length);
  }
  int client() {
    clients.push_back(vxtest::connect_to(port));
    const std::size_t want = clients.size();
    EXPECT_TRUE(vxtest::pump_until([&] { return tracer.clients() == want; }));
    return clients.back();
  }
  void write(int c, const Bytes& bytes) { ASSERT_EQ(::write(c, bytes.data(), bytes.size()), ssize_t(bytes.size())); }

  vxtest::CaptureStreams cap;
  TPKTTracer tracer;
  Strings got;
  uint16_t port = 0;
  std::vector<int> clients;
};

TEST_F(TracerTest, FramesPerClientAndOffendersAreClosedAlone) {
  const int c = client();
  EXPECT_EQ(count(cap.log.str(), "ACP connection open from 127.0.0.1:"), 1);
  write(c, {3, 0, 0, 7, 'A', 'B', 'C'});
  EXPECT_TRUE(vxtest::pump_until([&] { return got.size() == 1; }));
  for (uint8_t b : frame("DEF")) {
    write(c, {b});
    vxtest::pump(1);
  }
  write(c, {3, 0, 0, 4});  // empty: skipped
  write(c, frame(std::string(512, 'm')));
  EXPECT_TRUE(vxtest::pump_until([&] { return got.size() == 3; }));
  EXPECT_EQ(got, (Strings{"ABC", "DEF", std::string(512, 'm')}));

  const int big = client();
  const int bad = client();
  write(big, {3, 0, 0x02, 0x05});  // 517: a payload of 513 bytes
  write(bad, {3, 1, 0, 5, 'x'});
  EXPECT_TRUE(vxtest::pump_until([&] { return tracer.clients() == 1; }));
  EXPECT_TRUE(vxtest::peer_closed(big));
  EXPECT_TRUE(vxtest::peer_closed(bad));
  write(c, frame("still"));
  EXPECT_TRUE(vxtest::pump_until([&] { return got.size() == 4; }));
}

}  // namespace
