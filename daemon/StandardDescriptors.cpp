#include "daemon/StandardDescriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

bool OpenStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // The lower ones are open by now, so the lowest free number, which open takes, is fd.
    if (::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) < 0) return false;
  }
  return true;
}
