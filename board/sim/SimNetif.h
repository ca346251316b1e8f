#pragma once
// The simulated synchronous network interfaces ("hdlc0", ...): name, index, flags, the TDM
// channel that the interface-settings query reports and the protocol set on it. Every
// request is logged as text; the next requests of one kind can be made to fail.
#include <net/if.h>

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace board::sim {

struct SimWanInterface {
  std::string name;
  int index = 0;
  uint16_t flags = 0;
  uint32_t channel = 0;
  uint32_t proto = 0;  // the last SIOCWANDEV protocol set; 0 none yet
};

class SimNetif {
 public:
  static constexpr size_t kNameSize = IFNAMSIZ;
  static constexpr uint16_t kDefaultFlags = IFF_POINTOPOINT;
  static constexpr size_t kLogLimit = 1024;

  // Adds or replaces the interface.
  void add(const std::string& name, uint32_t channel, uint16_t flags = kDefaultFlags);
  void remove(const std::string& name);
  // One request: the result, or -1 with errno set.
  int request(uint32_t number, ifreq* ifr);
  // The next `count` requests `number` fail with `error` (0 cancels).
  void fail_next(uint32_t number, int error, unsigned count = 1);
  void reset();

  const std::vector<SimWanInterface>& interfaces() const { return interfaces_; }
  const SimWanInterface* find(std::string_view name) const;
  // "SIOCWANDEV hdlc0 type=0x2001 size=4 -> 0", oldest first.
  const std::deque<std::string>& log() const { return log_; }
  void clear_log() { log_.clear(); }

  // The request number of a name ("SIOCWANDEV", ...).
  static std::optional<uint32_t> request_number(std::string_view name);

 private:
  SimWanInterface* lookup(const char* name);
  int execute(uint32_t number, ifreq* ifr, std::string& text);

  std::vector<SimWanInterface> interfaces_;
  std::deque<std::string> log_;
  std::map<uint32_t, std::pair<int, unsigned>> fail_;
  int next_index_ = 10;
};

}  // namespace board::sim
