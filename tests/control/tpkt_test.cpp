// TPKT framing: cutting at every chunk boundary, length edge cases, resynchronisation, the
// partial-frame timer, an exhausted packet pool, and framing of outgoing messages.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "control/ProtocolsFamily.h"
#include "control/Tpkt_protocol.h"
#include "foundation/Packet.h"

namespace {

using vxtest::count;
using vxtest::frame;

class Owner : public ProtocolsFamily {
 public:
  Owner() {
    tpkt = new Tpkt_protocol;
    add_protocol_tail(tpkt);
  }
  void on_message(Packet& p) override {
    got.emplace_back(reinterpret_cast<const char*>(p.data()), p.length());
  }
  void transmit(Packet& p) override { sent.assign(p.data(), p.data() + p.length()); }

  void feed(const uint8_t* data, std::size_t n) {
    Packet p;
    p.reserve_head(0);
    if (n) std::memcpy(p.put(n), data, n);
    ProtocolsFamily::receive(p);
  }
  void feed(const std::vector<uint8_t>& v) { feed(v.data(), v.size()); }

  Tpkt_protocol* tpkt;
  std::vector<std::string> got;
  std::vector<uint8_t> sent;
};

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(Tpkt, FramesSurviveEverySplitAndMergeInOrder) {
  // One payload holds a frame header of its own, which must not be taken for one.
  const std::vector<std::string> payloads = {"ABC", "", std::string("\x03\x00\x00\x04x", 5),
                                             std::string(300, 'q'), "end"};
  std::vector<uint8_t> stream;
  for (const auto& p : payloads) {
    const auto f = frame(p);
    stream.insert(stream.end(), f.begin(), f.end());
  }
  // The empty frame is only delivered when a further byte follows; the last frame is complete.
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    vxtest::CaptureStreams cap;
    Owner o;
    o.feed(stream.data(), cut);
    o.feed(stream.data() + cut, stream.size() - cut);
    ASSERT_EQ(o.got, payloads) << "split at " << cut;
    EXPECT_EQ(cap.all(), "");
  }
  // One byte per chunk, and everything in one chunk.
  Owner bytewise;
  for (uint8_t b : stream) bytewise.feed(&b, 1);
  EXPECT_EQ(bytewise.got, payloads);
  Owner whole;
  whole.feed(stream);
  EXPECT_EQ(whole.got, payloads);
  EXPECT_EQ(whole.tpkt->state(), Tpkt_protocol::idle);
}

TEST(Tpkt, SmallLengthsAreRejectedAndTheNextFrameIsRead) {
  for (uint8_t len = 0; len <= 3; ++len) {
    vxtest::CaptureStreams cap;
    Owner o;
    o.feed(concat({{3, 0, 0, len}, frame("ok")}));
    EXPECT_EQ(o.got, std::vector<std::string>{"ok"});
    EXPECT_EQ(cap.log.str(), "TPKT too small " + std::to_string(len) + "\n");
  }
}

TEST(Tpkt, LargestFrameCarries65531Bytes) {
  std::string big(65531, 'z');
  big[0] = 'a';
  big.back() = 'b';
  const auto f = frame(big);
  ASSERT_EQ(f[2], 0xFF);
  ASSERT_EQ(f[3], 0xFF);
  Owner o;
  o.feed(std::vector<uint8_t>(f.begin(), f.begin() + 4));
  o.feed(std::vector<uint8_t>(f.begin() + 4, f.end()));
  ASSERT_EQ(o.got.size(), 1u);
  EXPECT_EQ(o.got[0], big);
}

TEST(Tpkt, BadStartRunGivesOneLineWithItsCountAndBadReservedResyncs) {
  vxtest::CaptureStreams cap;
  Owner o;
  std::vector<uint8_t> garbage(1000, 0x55);
  for (uint8_t b : garbage) o.feed(&b, 1);
  o.feed(frame("after"));
  EXPECT_EQ(o.got, std::vector<std::string>{"after"});
  EXPECT_EQ(cap.log.str(), "(no name) bad TPKT packet start. 1000 byte(s) skipped.\n");

  cap.clear();
  o.feed(concat({{3, 1}, frame("again")}));
  EXPECT_EQ(o.got.back(), "again");
  EXPECT_EQ(cap.log.str(), "(no name) bad TPKT reserved.\n");
}

TEST(Tpkt, PartialFrameIsDroppedAfter3000msOfSilence) {
  vxtest::TestClock clock;
  vxtest::CaptureStreams cap;
  Owner o;
  o.feed({3, 0, 0, 10, 'a', 'b'});
  clock.advance(2000);
  vxtest::pump(1);
  o.feed({'c'});  // each chunk restarts the timer
  clock.advance(2999);
  vxtest::pump(1);
  EXPECT_EQ(cap.log.str(), "");
  clock.advance(1);
  vxtest::pump(1);
  EXPECT_EQ(cap.log.str(), " TPKT packet timeout.\n");
  EXPECT_EQ(o.tpkt->state(), Tpkt_protocol::idle);
  // The bytes after the timeout start a new frame.
  o.feed(frame("fresh"));
  EXPECT_EQ(o.got, std::vector<std::string>{"fresh"});

  // An empty frame alone at the end of a chunk waits for a further byte, and times out without.
  cap.clear();
  o.feed({3, 0, 0, 4});
  clock.advance(3000);
  vxtest::pump(1);
  EXPECT_EQ(cap.log.str(), " TPKT packet timeout.\n");
  EXPECT_EQ(o.got.size(), 1u);

  // A garbage run followed by silence is reported by the timer, not held back.
  cap.clear();
  o.feed({9, 9, 9});
  clock.advance(3000);
  vxtest::pump(1);
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
  EXPECT_EQ(o.got, std::vector<std::string>{"kept"});
}

TEST(Tpkt, MessageGetsItsHeaderInTheReservedHeadRoom) {
  Owner o;
  Packet p;
  o.prepare_head(p);
  EXPECT_EQ(p.headroom(), 4u);
  std::memcpy(p.put(10), "0123456789", 10);
  o.ProtocolsFamily::message(p);
  EXPECT_EQ(o.sent, concat({{3, 0, 0, 14}, {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}}));

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

}  // namespace
