#include "monitoring/NetIfDataHolder.h"

#include <net/if.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "board/board.h"
#include "foundation/Traces.h"


int OpenInterfaceSocket() { return board::socket(17 /* AF_PACKET */, 3 /* SOCK_RAW */, 255); }

NetIfDataHolder::NetIfDataHolder(int index, std::string const& name) : index(index), name(name) {}

bool NetIfDataHolder::updateNetIf() {
  const int s = OpenInterfaceSocket();
  if (s < 0) {
    if (traces.monitoring_internal())
      std::clog << "Error open socket: " << " errno=\"" << std::strerror(errno) << "\"" << std::endl;
    return false;
  }
  bool result = false;
  ifreq request;
  std::memset(&request, 0, sizeof request);
  request.ifr_ifindex = index;
  if (board::ioctl(s, kGetName, &request) >= 0 && board::ioctl(s, kGetFlags, &request) >= 0) {
    result = setNetIfStatus((request.ifr_flags & kRunning) ? 1 : 0);
  } else if (traces.monitoring_internal()) {
    std::clog << "Error ioctl socket: " << " errno=\"" << std::strerror(errno) << "\"" << std::endl;
  }
  board::close(s);
  return result;
}

bool NetIfDataHolder::setNetIfStatus(int sample) {
  samples.push_back(sample);
  while (samples.size() > 3) samples.pop_front();
  int sum = 0;
  for (int s : samples) sum += s;
  const int now = sum >= 2 ? 1 : 0;
  const bool changed = now != running;
  running = now;
  operStatus = adminStatus = now == 1 ? 1 : 2;
  return changed;
}
