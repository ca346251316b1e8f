#pragma once
// The simulated "/dev/dsp-data": each descriptor is one signalling channel (a controller
// channel of the board, so its frames travel through the switch like the HDLC controller's)
// beside which up to three B channels open on fixed TDM channels of their own.
#include <cstdint>
#include <map>
#include <set>

namespace board::sim {

class SimDspData {
 public:
  // The controller-channel type under which signalling channels are listed (apart from the
  // controller's own kinds, so they use none of its capacity).
  static constexpr uint32_t kChannelType = 0x100;

  // The TDM channel of B channel `index` of a signalling channel.
  static int b_channel(int signalling, uint32_t index);

  // Opens B channel `index` (0 to 2): its TDM channel, or -1 with EINVAL (bad index) or EBUSY.
  int open_b(int signalling, uint32_t index, int& error);
  // Closes it; -1 with EINVAL when it is not open or `channel` is not its TDM channel.
  int close_b(int signalling, uint32_t index, int channel, int& error);
  // The signalling channel's descriptor closed: its B channels close with it.
  void release(int signalling) { open_.erase(signalling); }
  void reset() { open_.clear(); }

  // Open B channel indexes by signalling channel.
  const std::map<int, std::set<uint32_t>>& open() const { return open_; }

 private:
  std::map<int, std::set<uint32_t>> open_;
};

}  // namespace board::sim
