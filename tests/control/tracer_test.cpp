// The TPKT trace listener: per-client framing, closing of offending clients, and where Send
// goes inside and outside a receiver call.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "control/TPKTTracer.h"

namespace {

using vxtest::frame;

class Sink : public TPKTTracer::Receiver {
 public:
  void OnTrace(const void* data, unsigned length) override {
    got.emplace_back(static_cast<const char*>(data), length);
    if (reply) tracer->Send("re", 2);
  }
  std::vector<std::string> got;
  bool reply = false;
  TPKTTracer* tracer = nullptr;
};

class TracerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port = vxtest::free_port();
    ASSERT_TRUE(tracer.Listen(port));
    tracer.receiver = &sink;
    sink.tracer = &tracer;
  }
  void TearDown() override {
    for (int c : clients) ::close(c);
  }
  int client() {
    const int c = vxtest::connect_to(port);
    clients.push_back(c);
    const std::size_t want = clients.size();
    EXPECT_TRUE(vxtest::pump_until([&] { return tracer.clients() == want; }));
    return c;
  }
  void write_all(int c, const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(::write(c, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  }

  vxtest::CaptureStreams cap;
  TPKTTracer tracer;
  Sink sink;
  uint16_t port = 0;
  std::vector<int> clients;
};

TEST_F(TracerTest, FramesWholeOrByteByByteAndEmptyOnesSkipped) {
  const int c = client();
  EXPECT_EQ(vxtest::count(cap.log.str(), "ACP connection open from 127.0.0.1:"), 1);
  write_all(c, {3, 0, 0, 7, 'A', 'B', 'C'});
  EXPECT_TRUE(vxtest::pump_until([&] { return sink.got.size() == 1; }));
  for (uint8_t b : frame("DEF")) {
    write_all(c, {b});
    vxtest::pump(1);
  }
  write_all(c, {3, 0, 0, 4});
  write_all(c, frame(std::string(512, 'm')));
  EXPECT_TRUE(vxtest::pump_until([&] { return sink.got.size() == 3; }));
  EXPECT_EQ(sink.got, (std::vector<std::string>{"ABC", "DEF", std::string(512, 'm')}));
  EXPECT_EQ(tracer.clients(), 1u);
}

TEST_F(TracerTest, OffendingClientIsClosedAlone) {
  const int good = client();
  const int big = client();
  const int bad = client();
  write_all(big, {3, 0, 0x02, 0x05});  // 517: a payload of 513 bytes
  write_all(bad, {3, 1, 0, 5, 'x'});
  EXPECT_TRUE(vxtest::pump_until([&] { return tracer.clients() == 1; }));
  EXPECT_TRUE(vxtest::peer_closed(big));
  EXPECT_TRUE(vxtest::peer_closed(bad));
  write_all(good, frame("still"));
  EXPECT_TRUE(vxtest::pump_until([&] { return sink.got.size() == 1; }));
}

TEST_F(TracerTest, SendGoesToAllOrToTheClientBeingServed) {
  const int a = client();
  const int b = client();
  const int c = client();
  tracer.Send("0123456789", 10);
  for (int s : {a, b, c}) EXPECT_EQ(vxtest::drain(s).size(), 14u);

  sink.reply = true;
  write_all(b, frame("q"));
  EXPECT_TRUE(vxtest::pump_until([&] { return sink.got.size() == 1; }));
  EXPECT_EQ(vxtest::drain(b), frame("re"));
  EXPECT_TRUE(vxtest::drain(a).empty());
  EXPECT_TRUE(vxtest::drain(c).empty());
}

}  // namespace
