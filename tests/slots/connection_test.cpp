// The connection model through the slot table: which side makes the hardware path, one source
// feeding many sinks, reconnections (also failed ones) and connections changed from hooks.
#include <algorithm>

#include "SlotsFixture.h"

namespace {

using namespace slotstest;
using Strings = std::vector<std::string>;
using EC = LGCP::ErrorCause;

class ConnectionTest : public SlotsTest {
 protected:
  // Probe slots numbered n with the given channels; their answers are cleared.
  Probe& make(unsigned n, int tx, int rx) {
    send(create_probe(100 + int(n), n, tx, rx));
    EXPECT_EQ(texts(), Strings{"success"});
    return *probe(n);
  }
  static int count(const Probe& p, const std::string& call) {
    return int(std::count(p.calls.begin(), p.calls.end(), call));
  }
};

TEST_F(ConnectionTest, TheSideWithTheHigherPriorityMakesAndTakesDownThePath) {
  Probe& a = make(1, 5, 8201);
  Probe& b = make(2, 6, 8202);
  send(connect_cmd(1, 1, 2));  // equal priorities: the sink connects
  send(simple(2, 2, LGCP::Command::e_disconnect));  // not higher on the sink: the source takes down
  EXPECT_EQ(b.calls, (Strings{"input", "hw-rx 01:probe", "input-release"}));
  EXPECT_EQ(a.calls, (Strings{"output", "hw-untx 02:probe", "output-release"}));
  EXPECT_EQ(sw(8202), "idle");

  a.calls.clear();
  b.calls.clear();
  a.priority = 1;
  send(connect_cmd(3, 1, 2));
  EXPECT_EQ(sw(8202), "from 5");
  b.priority = 2;
  send(simple(4, 2, LGCP::Command::e_disconnect));
  EXPECT_EQ(a.calls, (Strings{"output", "hw-tx 02:probe", "output-release"}));
  EXPECT_EQ(b.calls, (Strings{"input", "hw-unrx 01:probe", "input-release"}));
  EXPECT_EQ(sw(8202), "idle");
  EXPECT_EQ(texts(), (Strings{"transmitter active 5", "receiver active 8202", "success", "success", "success",
                              "success"}));
}

TEST_F(ConnectionTest, OneSourceFeedsManySinksAndDropsThemAllWhenItsOutputEnds) {
  Probe& src = make(1, 5, -1);
  make(2, -1, 8202);
  make(3, -1, 8203);
  make(4, -1, 8204);
  // The streams' signals go out before the connect's answer.
  send(connect_cmd(1, 1, 2));
  EXPECT_EQ(texts(), (Strings{"transmitter active 5", "receiver active 8202", "success"}));
  send(connect_cmd(2, 1, 3));
  send(connect_cmd(3, 1, 3));  // already its source: nothing happens
  send(connect_cmd(4, 1, 4));
  EXPECT_EQ(texts(), (Strings{"receiver active 8203", "success", "success", "receiver active 8204", "success"}));
  EXPECT_EQ(count(src, "output"), 1);
  EXPECT_EQ(count(*probe(3), "hw-rx 01:probe"), 1);
  EXPECT_EQ(src.sinks.size(), 3u);
  for (int ch : {8202, 8203, 8204}) EXPECT_EQ(sw(ch), "from 5") << ch;

  src.OnChangeOutputStream(false);
  EXPECT_EQ(texts(), Strings{"transmitter inactive"});
  EXPECT_TRUE(src.sinks.empty());
  for (unsigned n : {2u, 3u, 4u}) {
    EXPECT_EQ(probe(n)->source, nullptr);
    EXPECT_EQ(count(*probe(n), "input-release"), 1);
  }
  for (int ch : {8202, 8203, 8204}) EXPECT_EQ(sw(ch), "idle") << ch;
  EXPECT_EQ(count(src, "output-release"), 1);
}

TEST_F(ConnectionTest, ReconnectingASinkMovesItsPathAndReleasesTheOldSource) {
  Probe& a = make(1, 5, -1);
  Probe& b = make(2, 6, -1);
  Probe& sink = make(3, -1, 8203);
  send(connect_cmd(1, 1, 3));
  send(connect_cmd(2, 2, 3));
  EXPECT_EQ(texts(), (Strings{"transmitter active 5", "receiver active 8203", "success", "transmitter active 6", "success"}));
  // The old path goes first, the input stream is not asked again.
  EXPECT_EQ(sink.calls, (Strings{"input", "hw-rx 01:probe", "hw-rx 02:probe"}));
  EXPECT_EQ(a.calls, (Strings{"output", "hw-untx 03:probe", "output-release"}));
  EXPECT_EQ(sink.source, &b);
  EXPECT_TRUE(a.sinks.empty());
  EXPECT_EQ(sw(8203), "from 6");
}

TEST_F(ConnectionTest, AFailedConnectionReleasesTheNewStreamsAndKeepsTheOldLink) {
  Probe& a = make(1, 5, -1);
  Probe& noTx = make(2, -1, -1);
  Probe& sink = make(3, -1, 8203);
  send(connect_cmd(1, 1, 3));
  texts();
  send(connect_cmd(2, 2, 3));  // the new source has no channel: the switch refuses
  EXPECT_EQ(texts(), (Strings{"transmitter active -1", "error 9"}));
  EXPECT_EQ(sink.source, &a);
  EXPECT_EQ(a.sinks, std::vector<Slot*>{&sink});
  EXPECT_EQ(sw(8203), "from 5");  // the old path is back
  EXPECT_EQ(count(noTx, "output-release"), 1);
  EXPECT_EQ(count(sink, "input-release"), 0);

  // A sink without channel and without source gets its input stream released.
  Probe& noRx = make(4, -1, -1);
  send(connect_cmd(3, 1, 4));
  EXPECT_EQ(texts(), (Strings{"receiver active -1", "error 9"}));
  EXPECT_EQ(count(noRx, "input-release"), 1);
  EXPECT_EQ(noRx.source, nullptr);

  // A slot without streams cannot take part at all.
  noRx.input = false;
  send(connect_cmd(4, 1, 4));
  EXPECT_EQ(texts(), Strings{"error " + std::to_string(EC::connectFail)});
  EXPECT_EQ(count(noRx, "hw-rx 01:probe"), 1);
}

TEST_F(ConnectionTest, HooksMayConnectAndDisconnectWhileATakeDownRuns) {
  Probe& src = make(1, 5, -1);
  Probe& first = make(2, -1, 8202);
  make(3, -1, 8203);
  make(4, -1, 8204);
  Probe& other = make(5, 7, -1);
  for (unsigned n : {2u, 3u, 4u}) send(connect_cmd(int(n), 1, n));
  texts();
  // Losing its input, the first sink also takes the second one off the same source.
  first.onInputRelease = [&] {
    first.onInputRelease = nullptr;
    Disconnect(*probe(3));
  };
  src.OnChangeOutputStream(false);
  EXPECT_TRUE(src.sinks.empty());
  for (int ch : {8202, 8203, 8204}) EXPECT_EQ(sw(ch), "idle") << ch;

  // A source that loses its last sink hands that sink over to another source.
  send(connect_cmd(6, 1, 2));
  src.onOutputRelease = [&] { EXPECT_TRUE(Connect(other, first)); };
  send(simple(7, 2, LGCP::Command::e_disconnect));
  EXPECT_EQ(first.source, &other);
  EXPECT_EQ(other.sinks, std::vector<Slot*>{&first});
  EXPECT_EQ(sw(8202), "from 7");
}

TEST_F(ConnectionTest, DestroyTakesTheSlotOffItsSourceAndItsSinks) {
  Probe& a = make(1, 5, -1);
  make(2, 6, 8202);
  Probe& c = make(3, -1, 8203);
  send(connect_cmd(1, 1, 2));
  send(connect_cmd(2, 2, 3));
  send(simple(3, 2, LGCP::Command::e_destroy));
  EXPECT_EQ(texts().back(), "success");
  EXPECT_EQ(slots.Find(2), nullptr);
  EXPECT_TRUE(a.sinks.empty());
  EXPECT_EQ(c.source, nullptr);
  EXPECT_EQ(sw(8202), "idle");
  EXPECT_EQ(sw(8203), "idle");
  EXPECT_EQ(probes.slots, (std::vector<Slot*>{&a, &c}));
}

}  // namespace
