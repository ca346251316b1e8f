// The device seam on the simulated board.
#include "board/board.h"
#include "board/sim/SimBoard.h"
#include "board/sim/SimServer.h"

namespace board {

namespace {

sim::SimNetif& interfaces() { return sim::SimBoard::instance().netif(); }

}  // namespace

int open(const char* path, int flags) { return sim::SimBoard::instance().open(path, flags); }
int ioctl(int fd, uint32_t request, void* argp) {
  if (interfaces().owns(fd)) return interfaces().ioctl(fd, request, argp);
  return sim::SimBoard::instance().ioctl(fd, request, argp);
}
int ioctl_value(int fd, uint32_t request, unsigned long value) {
  return sim::SimBoard::instance().ioctl_value(fd, request, value);
}
int close(int fd) {
  if (interfaces().owns(fd)) return interfaces().close(fd);
  return sim::SimBoard::instance().close(fd);
}
int socket(int domain, int type, int protocol) { return interfaces().socket(domain, type, protocol); }
void serve() { sim::serve(); }

}  // namespace board
