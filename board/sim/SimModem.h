#pragma once
// The simulated modem control device "/dev/mctl": a pool of DSP modems, each with its TDM
// channel. A descriptor allocates one modem; the modem stays with it (digital data modes,
// parameters, the way it was started) until the descriptor's last copy is closed.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace board::sim {

class SimBoard;

struct SimModemState {
  int number = 0;
  int timeslot = 0;
  bool allocated = false;
  uint64_t owner = 0;  // the descriptor that allocated it
  uint32_t ddm = 0;
  std::map<int32_t, int32_t> params{};  // offset -> value, cleared by the reset request
  const char* mode = "idle";          // "answer", "originate", "fax-originate"
};

class SimModem {
 public:
  static constexpr int kMaxModems = 256;
  static constexpr int kDefaultModems = 4;
  static constexpr int kDefaultFirstTimeslot = 1024;

  SimModem() { configure(kDefaultModems, kDefaultFirstTimeslot); }
  // `count` modems on the channels first_timeslot, first_timeslot + 1, ...; frees every modem.
  void configure(int count, int first_timeslot);
  // One request of the descriptor `key`: the result, or -1 with `error` set.
  int request(uint64_t key, uint32_t number, uint8_t* record, unsigned long value, int& error);
  // The descriptor's last copy was closed: its modem is free again.
  void release(uint64_t key);
  void reset() { configure(kDefaultModems, kDefaultFirstTimeslot); }

  const std::vector<SimModemState>& modems() const { return modems_; }

 private:
  SimModemState* owned(uint64_t key);
  SimModemState* checked(uint64_t key, int32_t number, int& error);

  std::vector<SimModemState> modems_;
};

// The text-protocol commands of the modems ("modems", "modem-state"); nullopt for any other
// command.
std::optional<std::string> modem_command(SimBoard& board, const std::vector<std::string_view>& words);

}  // namespace board::sim
