#pragma once
// The link state of one network interface, sampled from the kernel's interface flags and
// filtered by a majority of the last three samples, with its SNMP statuses.
#include <cstdint>
#include <deque>
#include <string>

#include "board/netif.h"

class NetIfDataHolder {
 public:
  static constexpr uint32_t kGetName = board::SIOCGIFNAME_;
  static constexpr uint32_t kGetFlags = board::SIOCGIFFLAGS_;
  static constexpr short kRunning = 0x40;  // IFF_RUNNING

  NetIfDataHolder(int index, std::string const& name);

  // Samples the interface once; true when the filtered state changed.
  bool updateNetIf();
  // The filter step with one raw sample (0 or 1); true when the filtered state changed.
  bool setNetIfStatus(int sample);

  int running = -1;  // 1 up, 0 down, -1 not sampled yet
  int operStatus = 2;
  int adminStatus = 2;
  std::deque<int> samples;
  int index;
  std::string name;
};

// A packet socket for the interface requests (through the device seam), or -1.
int OpenInterfaceSocket();
