/* For the far-end programs of the link tests (C): the listening end of the socket that the
 * simulated board's far-end tie connects to. */
#ifndef VX_PEER_LISTEN_H
#define VX_PEER_LISTEN_H

#include <errno.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

/* A SOCK_SEQPACKET socket listening at `path` (a stale file there is removed first); -1 with
 * errno set when it cannot be made. */
static inline int peer_listen(const char *path) {
  int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  if (fd < 0) return -1;
  struct sockaddr_un a;
  memset(&a, 0, sizeof a);
  a.sun_family = AF_UNIX;
  strncpy(a.sun_path, path, sizeof a.sun_path - 1);
  unlink(path);
  if (bind(fd, (struct sockaddr *)&a, sizeof a) < 0 || listen(fd, 1) < 0) {
    int e = errno;
    close(fd);
    errno = e;
    return -1;
  }
  return fd;
}

#endif
