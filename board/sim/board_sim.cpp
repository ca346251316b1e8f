// The device seam on the simulated board.
#include "board/board.h"
#include "board/sim/SimBoard.h"
#include "board/sim/SimServer.h"

namespace board {

int open(const char* path, int flags) { return sim::SimBoard::instance().open(path, flags); }
int ioctl(int fd, uint32_t request, void* argp) { return sim::SimBoard::instance().ioctl(fd, request, argp); }
int ioctl_value(int fd, uint32_t request, unsigned long value) {
  return sim::SimBoard::instance().ioctl_value(fd, request, value);
}
int close(int fd) { return sim::SimBoard::instance().close(fd); }
void serve() { sim::serve(); }

}  // namespace board
