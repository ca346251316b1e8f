#pragma once
// The simulated board's network interfaces: one table, as the kernel keeps it, of every
// interface by index with its name and flags, and for the synchronous ones ("hdlc0", ...) the
// TDM channel that the interface-settings query reports and the protocol set on them. Both of
// its users reach it through the device seam: the monitoring service's link-state reader on a
// packet socket, the modem slots on an IPv4 datagram socket (board::socket, board::ioctl).
// Every request is logged as text; the next requests of one kind can be made to fail.
#include <net/if.h>

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace board::sim {

struct SimInterface {
  int index = 0;
  std::string name;
  uint16_t flags = IFF_UP | IFF_RUNNING;
  // Synchronous interfaces only: the TDM channel and the last SIOCWANDEV protocol set.
  bool synchronous = false;
  uint32_t channel = 0;
  uint32_t proto = 0;

  bool running() const { return flags & IFF_RUNNING; }
};

class SimNetif {
 public:
  static constexpr size_t kNameSize = IFNAMSIZ;
  static constexpr int kMaxIndex = 255;
  static constexpr size_t kMaxInterfaces = 64;
  // A synchronous interface until it is configured: point-to-point, down.
  static constexpr uint16_t kSyncFlags = IFF_POINTOPOINT;
  static constexpr size_t kLogLimit = 1024;

  // Starts as the board does: 1 "lo" and 2 "eth0", both up and running.
  SimNetif() { reset(); }

  // --- the sockets of the seam (board::socket, board::ioctl, board::close)
  // AF_PACKET and AF_INET only; a descriptor of its own, so that closing it stays real.
  int socket(int domain, int type, int protocol);
  bool owns(int fd) const { return sockets_.count(fd) != 0; }
  int ioctl(int fd, uint32_t request, void* argp);
  int close(int fd);

  // --- the table
  // Adds or replaces the interface at `index` (name, flags; a replaced one stays synchronous
  // with its channel and protocol). False when the index is out of range, the name is not a
  // valid interface name or belongs to another index, or the table is full.
  bool set(int index, std::string_view name, uint16_t flags);
  // Adds a synchronous interface under the next free index, or changes the channel and flags
  // of the one of that name (it becomes synchronous). False as set().
  bool add(std::string_view name, uint32_t channel, uint16_t flags = kSyncFlags);
  bool remove(std::string_view name);
  bool remove(int index) { return interfaces_.erase(index) != 0; }
  SimInterface* find(std::string_view name);
  const SimInterface* find(std::string_view name) const;
  SimInterface* find(int index);
  const std::map<int, SimInterface>& interfaces() const { return interfaces_; }

  // One request: the result, or -1 with errno set.
  int request(uint32_t number, ifreq* ifr);
  // The next `count` requests `number` fail with `error` (0 cancels).
  void fail_next(uint32_t number, int error, unsigned count = 1);
  // Back to the start table; the log and pending failures are dropped, sockets stay open.
  void reset();

  // "SIOCWANDEV hdlc0 type=0x2001 size=4 -> 0", oldest first.
  const std::deque<std::string>& log() const { return log_; }
  void clear_log() { log_.clear(); }

  // The request number of a name ("SIOCWANDEV", ...).
  static std::optional<uint32_t> request_number(std::string_view name);

  // The text protocol's interface lines ("netif", "netif-sync", "netif-remove", "netifs",
  // "netif-requests", "netif-fail"); nothing when the command is not one of them.
  std::optional<std::string> execute(const std::vector<std::string_view>& words);
  static const char* help() { return "netif netif-sync netif-remove netifs netif-requests netif-fail"; }

 private:
  int execute(uint32_t number, ifreq* ifr, std::string& text);
  bool name_free(std::string_view name, int index) const;

  std::set<int> sockets_;
  std::map<int, SimInterface> interfaces_;
  std::deque<std::string> log_;
  std::map<uint32_t, std::pair<int, unsigned>> fail_;
};

}  // namespace board::sim
