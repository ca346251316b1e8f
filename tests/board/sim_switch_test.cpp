// The simulated switch's routes, kept by source as the switch changes: what a signal entering
// at a source reaches, through connections, loopbacks and cable rings.
#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "board/sim/SimSwitch.h"

namespace {

using board::sim::SimSwitch;

// The channels the tests use: a few low ones, so that changes collide, and the last one.
std::vector<int> channels() {
  std::vector<int> all;
  for (int ch = 0; ch < 12; ++ch) all.push_back(ch);
  all.push_back(SimSwitch::kChannels - 1);
  return all;
}

// What a signal entering at `source` reaches, found the long way: every channel's entry looked
// at for each input, breadth first through at most 32 cables.
std::vector<int> walk(const SimSwitch& sw, int source) {
  std::vector<int> out;
  std::set<int> seen;
  std::deque<std::pair<int, int>> inputs{{source, 0}};
  while (!inputs.empty()) {
    const auto [input, hops] = inputs.front();
    inputs.pop_front();
    for (int ch : channels()) {
      const SimSwitch::Entry& e = sw.entry(ch);
      if (e.kind != SimSwitch::Entry::connected || e.source != input || !seen.insert(ch).second) continue;
      out.push_back(ch);
      if (auto next = sw.cable_of(ch); next && hops < 32) inputs.emplace_back(*next, hops + 1);
    }
  }
  return out;
}

TEST(SimSwitch, RoutesFollowConnectionsLoopbacksAndCableRingsEachChannelOnce) {
  SimSwitch sw;
  sw.connect(9, 4);
  sw.connect(2, 4);
  sw.connect(5, 2);
  EXPECT_EQ(sw.route(4), (std::vector<int>{2, 9})) << "in channel order";
  EXPECT_TRUE(sw.route(7).empty());

  sw.cable(2, 2);  // a loopback: output 2 feeds input 2, which feeds 5
  EXPECT_EQ(sw.route(4), (std::vector<int>{2, 9, 5}));
  sw.cable(5, 4);  // and back to the start: a ring
  sw.connect(4, 4);
  EXPECT_EQ(sw.route(4), (std::vector<int>{2, 4, 9, 5}));
  EXPECT_EQ(sw.route(2), (std::vector<int>{5, 2, 4, 9}));

  sw.write(9, 0x55);
  sw.disable(4);
  sw.connect(2, 7);  // moved to another source
  EXPECT_TRUE(sw.route(4).empty());
  EXPECT_EQ(sw.route(7), (std::vector<int>{2, 5}));
  sw.uncable(5);
  sw.uncable(2);
  EXPECT_EQ(sw.route(7), (std::vector<int>{2}));
  sw.reset();
  EXPECT_TRUE(sw.route(7).empty());
  EXPECT_TRUE(sw.route(-1).empty());
  EXPECT_TRUE(sw.route(SimSwitch::kChannels).empty());
}

// Any sequence of changes leaves the routes that walking the table finds.
TEST(SimSwitch, RoutesKeptAsTheSwitchChangesMatchAWalkOfTheTable) {
  const std::vector<int> ch = channels();
  std::mt19937 rng(55);
  const auto any = [&] { return ch[rng() % ch.size()]; };
  SimSwitch sw;
  for (int step = 0; step < 3000; ++step) {
    const int a = any(), b = any();
    switch (rng() % 8) {
      case 0: case 1: case 2: sw.connect(a, b); break;
      case 3: sw.disable(a); break;
      case 4: sw.write(a, static_cast<uint8_t>(b)); break;
      case 5: sw.cable(a, b); break;
      case 6: sw.uncable(a); break;
      case 7: if (step % 500 == 7) sw.reset(); break;
    }
    for (int source : {a, b, any()}) ASSERT_EQ(sw.route(source), walk(sw, source)) << "step " << step;
  }
}

}  // namespace
