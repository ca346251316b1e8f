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
  // Devices open so that injected events and frames have somewhere to go; reopened after an
  // input hung them up or reset the board.
  static int fds[3] = {-1, -1, -1};
  static const char* const paths[3] = {"/dev/dtmf", "/dev/e1-cas", "/dev/dsp"};
  for (int i = 0; i < 3; ++i) {
    if (fds[i] >= 0 && board::sim::SimBoard::instance().open_count(*board::sim::find_device(paths[i])) > 0) continue;
    if (fds[i] >= 0) board::close(fds[i]);
    fds[i] = board::open(paths[i], O_RDWR | O_NONBLOCK);
  }
  protocol.feed(std::string_view(reinterpret_cast<const char*>(data), size));
  protocol.feed("\n");
  return 0;
}
