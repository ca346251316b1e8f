// Simulated board: until a device is simulated, opening it fails as on a board without it.
#include <cerrno>

#include "board/board.h"

namespace board {

int open(const char*, int) { errno = ENOENT; return -1; }
int ioctl(int, uint32_t, void*) { errno = ENOTTY; return -1; }
int ioctl_value(int, uint32_t, unsigned long) { errno = ENOTTY; return -1; }
int close(int) { errno = EBADF; return -1; }

}  // namespace board
