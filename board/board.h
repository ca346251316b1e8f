#pragma once
// The device seam: every access to a board driver goes through these four calls. The daemon
// links board/linux (pass-through to the kernel), voxrelay-sim and the tests link board/sim.
#include <cerrno>
#include <cstdint>

namespace board {

int open(const char* path, int flags);
// Pointer form: the request's argument record lives at argp.
int ioctl(int fd, uint32_t request, void* argp);
// By-value form: the request's argument is a plain integer (timeslot, trunk, mask).
int ioctl_value(int fd, uint32_t request, unsigned long value);
int close(int fd);

// A request failed because the driver gave the descriptor up (the device was reset or went
// away): the descriptor serves no more and a new open is needed.
inline bool descriptor_gone(int error) { return error == ENODEV || error == EBADF; }

// A pointer-form request on fd that, when the driver gave fd up, closes it (fd becomes -1),
// asks reopen() once to open the device again into fd and makes the request once more.
template <class Reopen>
int ioctl_reopening(int& fd, uint32_t request, void* argp, Reopen reopen) {
  const int r = ioctl(fd, request, argp);
  if (r >= 0 || !descriptor_gone(errno)) return r;
  close(fd);
  fd = -1;
  return reopen() ? ioctl(fd, request, argp) : -1;
}
// A socket for the network-interface requests of board/netif.h, made with ioctl and closed
// with close above (the link-state readers' packet socket, the modem slots' IPv4 datagram
// socket): the kernel's on the board, one answered by the simulated interfaces otherwise.
int socket(int domain, int type, int protocol);

// Called once by start-up when the event loop runs: the simulated board starts taking in
// device writes and serving its test socket; on the real board there is nothing to do.
void serve();

}  // namespace board
