// The simulator's listing of the switch: every output that is not disabled, in channel order.
#include <gtest/gtest.h>

#include "board/sim/SimBoard.h"
#include "board/sim/SimProtocol.h"

TEST(SimConnections, ListsConnectedAndConstantOutputsInChannelOrder) {
  auto& sim = board::sim::SimBoard::instance();
  sim.reset();
  board::sim::SimProtocol protocol{sim};
  EXPECT_EQ(protocol.execute("connections"), "ok 0\n");
  EXPECT_EQ(protocol.execute("connections 1").rfind("error", 0), 0u);
  sim.state().mux.connect(8300, 37);
  sim.state().mux.write(65, 0xD5);
  sim.state().mux.connect(8200, 5);
  EXPECT_EQ(protocol.execute("connections"), "ok 3\n65 constant 213\n8200 connected 5\n8300 connected 37\n");
  sim.state().mux.disable(8200);
  EXPECT_EQ(protocol.execute("connections"), "ok 2\n65 constant 213\n8300 connected 37\n");
  sim.reset();
}
