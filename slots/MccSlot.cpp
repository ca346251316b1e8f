#include "slots/MccSlot.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "hardware/SwitchRoutes.h"

MccSlot::MccSlot(int ch, int timeslot) : timeslot(timeslot), channel(::fcntl(ch, F_DUPFD_CLOEXEC, 0)) {
  event.Bind("MccSlot::OnEvent", &MccSlot::OnEvent, this);
  event.Schedule(channel, POLLIN);
}

MccSlot::~MccSlot() {
  event.Release();
  // A route of the channel that the switch has not taken down yet keeps it from the next slot;
  // a channel that ended under the slot may be another's already.
  if (!channelLost) SwitchRoutes::release(timeslot, channel.release(), false);
}

bool MccSlot::IUserData(std::vector<char> const& data) {
  ssize_t n;
  do n = ::write(channel.get(), data.data(), data.size());
  while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(data.size())) return true;
  std::cerr << *this << ": user data write fail: " << (n < 0 ? std::strerror(errno) : "short write") << std::endl;
  return false;
}

void MccSlot::OnEvent(int, short revents) {
  if (revents & (POLLIN | POLLHUP | POLLERR)) DoRead();
}

void MccSlot::DoRead() {
  // One octet more than a signal carries: a frame that fills it is too long (the channel cuts
  // a frame at the buffer's end, so the read alone cannot say it was whole).
  char frame[kMaxFrame + 1];
  for (int i = 0; i < kFramesPerPass; ++i) {
    const ssize_t n = ::read(event.fd(), frame, sizeof frame);
    if (n > static_cast<ssize_t>(kMaxFrame)) {
      ++rxTooLong;
      std::cerr << *this << ": frame of more than " << kMaxFrame << " octets too long for user data, dropped ("
                << rxTooLong << " so far)" << std::endl;
      continue;
    }
    if (n > 0) {
      OnUserData(std::vector<char>(frame, frame + n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) {
      // The channel has ended: a watch that stayed would be served (with its hang-up) on every
      // pass. The slot's own descriptor stays, so that writes fail instead of going to a
      // reused number. A hung-up channel is free on the board: its timeslot goes too.
      std::cerr << *this << ": channel closed" << std::endl;
      LoseChannel();
      event.Release();
    }
    return;
  }
}
