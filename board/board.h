#pragma once
// The device seam: every access to a board driver goes through these four calls. The daemon
// links board/linux (pass-through to the kernel), voxrelay-sim and the tests link board/sim.
#include <cstdint>

namespace board {

int open(const char* path, int flags);
// Pointer form: the request's argument record lives at argp.
int ioctl(int fd, uint32_t request, void* argp);
// By-value form: the request's argument is a plain integer (timeslot, trunk, mask).
int ioctl_value(int fd, uint32_t request, unsigned long value);
int close(int fd);
// A socket for the network-interface requests of board/netif.h, made with ioctl and closed
// with close above (the link-state readers' packet socket, the modem slots' IPv4 datagram
// socket): the kernel's on the board, one answered by the simulated interfaces otherwise.
int socket(int domain, int type, int protocol);

// Called once by start-up when the event loop runs: the simulated board starts taking in
// device writes and serving its test socket; on the real board there is nothing to do.
void serve();

}  // namespace board
