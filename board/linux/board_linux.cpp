// Pass-through of the device seam to the kernel's drivers.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "board/board.h"
#include "foundation/Paths.h"

namespace board {

int open(const char* path, int flags) { return ::open(Paths::rooted(path).c_str(), flags); }
int ioctl(int fd, uint32_t request, void* argp) { return ::ioctl(fd, static_cast<unsigned long>(request), argp); }
int ioctl_value(int fd, uint32_t request, unsigned long value) {
  return ::ioctl(fd, static_cast<unsigned long>(request), value);
}
int close(int fd) { return ::close(fd); }
int socket(int domain, int type, int protocol) { return ::socket(domain, type | SOCK_CLOEXEC, protocol); }
void serve() {}

}  // namespace board
