#pragma once
// What the simulated board shows the monitoring service besides "/dev/hal": its network
// interfaces (answered on the packet sockets that board::socket hands out) and the status
// files of its four E1 framers, written under the path root as the framer driver would.
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace board::sim {

struct SimInterface {
  std::string name;
  bool running = true;
};

struct SimFramer {
  std::string state = "No Carrier";
  bool signal_loss = true;
  bool frame_align_loss = true;
  int slips_negative = 0;
  int slips_positive = 0;
};

class SimMonitoring {
 public:
  static constexpr int kFramers = 4;
  static constexpr int kMaxInterfaces = 16;
  static constexpr size_t kMaxName = 15;  // IFNAMSIZ less the terminator
  static constexpr const char* kFramerDir = "/proc/driver/hdlc/peb22554/";

  static SimMonitoring& instance();
  SimMonitoring();

  // --- the packet sockets of the seam
  int socket(int domain, int type, int protocol);
  bool owns(int fd) const { return sockets_.count(fd) != 0; }
  // SIOCGIFNAME by index, SIOCGIFFLAGS by name; anything else ENOTTY.
  int ioctl(int fd, unsigned long request, void* argp);
  int close(int fd);

  // --- interfaces, by kernel index (1 "lo" and 2 "eth0" at start, both running)
  std::map<int, SimInterface>& interfaces() { return interfaces_; }

  // --- framer status files: the text the driver publishes for framer n (0 to 3)
  static std::string framer_text(int n, const SimFramer& f);
  // Writes the status file of framer n under the path root (replacing it); false on failure
  // and when no path root is set.
  bool write_framer(int n, const SimFramer& f);
  bool remove_framer(int n);

  // The text protocol's monitoring lines ("netif", "netif-remove", "netifs", "framer",
  // "framer-remove"); nothing when the command is not one of them.
  std::optional<std::string> execute(const std::vector<std::string_view>& words);
  static const char* help() { return "netif netif-remove netifs framer framer-remove"; }

 private:
  std::set<int> sockets_;
  std::map<int, SimInterface> interfaces_;
};

}  // namespace board::sim
