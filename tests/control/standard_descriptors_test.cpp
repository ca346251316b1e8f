// Start-up keeps descriptors 0, 1 and 2 taken, so that nothing the daemon opens gets their
// numbers; each case runs in a child of its own, whose descriptors it may close.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <initializer_list>

#include "daemon/StandardDescriptors.h"

namespace {

// The exit status of body() run in a child: 0 when it held.
int in_child(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = -1;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

bool is_null_device(int fd, int mode) {
  struct stat st, null;
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_ACCMODE) == mode && fstat(fd, &st) == 0 && stat("/dev/null", &null) == 0 &&
         S_ISCHR(st.st_mode) && st.st_rdev == null.st_rdev;
}

TEST(StandardDescriptors, ClosedOnesGetTheNullDeviceOpenOnesAreLeft) {
  EXPECT_EQ(in_child([] {
              close(1);
              if (!OpenStandardDescriptors() || !is_null_device(1, O_WRONLY)) return 1;
              const int next = open("/dev/null", O_RDONLY);
              return next > 2 ? 0 : 2;
            }),
            0);
  EXPECT_EQ(in_child([] {
              for (int fd : {0, 1, 2}) close(fd);
              if (!OpenStandardDescriptors()) return 1;
              return is_null_device(0, O_RDONLY) && is_null_device(1, O_WRONLY) && is_null_device(2, O_WRONLY) ? 0 : 2;
            }),
            0);
  // All open, whatever errno held before: nothing is opened.
  EXPECT_EQ(in_child([] {
              const int free_before = dup(0);
              close(free_before);
              errno = EBADF;
              if (!OpenStandardDescriptors()) return 1;
              const int free_after = dup(0);
              return free_after == free_before ? 0 : 2;
            }),
            0);
}

}  // namespace
