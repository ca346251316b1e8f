#include "slots/MccSlot.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

MccSlot::MccSlot(int channel, int timeslot) : timeslot(timeslot) {
  event.Bind("MccSlot::OnEvent", &MccSlot::OnEvent, this);
  Fd fd(::fcntl(channel, F_DUPFD_CLOEXEC, 0));
  event.Schedule(fd, POLLIN);
}

MccSlot::~MccSlot() { event.Release(); }

bool MccSlot::IUserData(std::vector<char> const& data) {
  if (event.fd() < 0) return false;
  ssize_t n;
  do n = ::write(event.fd(), data.data(), data.size());
  while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(data.size())) return true;
  std::cerr << *this << ": user data write fail: " << (n < 0 ? std::strerror(errno) : "short write") << std::endl;
  return false;
}

void MccSlot::OnEvent(int, short revents) {
  if (revents & (POLLIN | POLLHUP | POLLERR)) DoRead();
}

void MccSlot::DoRead() {
  char frame[kMaxFrame];
  for (int i = 0; i < kFramesPerPass; ++i) {
    const ssize_t n = ::read(event.fd(), frame, sizeof frame);
    if (n > 0) {
      OnUserData(std::vector<char>(frame, frame + n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) {
      // The channel has ended: a watch that stayed would be served on every pass. The
      // descriptor stays, so that writes fail instead of going to a reused number.
      std::cerr << *this << ": channel closed" << std::endl;
      event.set_events(0);
    }
    return;
  }
}
