// The simulator's text protocol reads a local socket: no byte sequence may crash it or make
// it grow without bound.
#include <fcntl.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "board/board.h"
#include "board/sim/SimBoard.h"
#include "board/sim/SimProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static board::sim::SimBoard& sim = board::sim::SimBoard::instance();
  static board::sim::SimProtocol protocol(sim);
  // Open devices so that injected events and frames have somewhere to go.
  if (sim.open_count(board::sim::Device::dtmf) == 0) {
    board::open("/dev/dtmf", O_RDONLY | O_NONBLOCK);
    board::open("/dev/e1-cas", O_RDWR | O_NONBLOCK);
    board::open("/dev/dsp", O_RDONLY | O_NONBLOCK);
  }
  protocol.feed(std::string_view(reinterpret_cast<const char*>(data), size));
  protocol.feed("\n");
  return 0;
}
