#pragma once
// The simulated RTP device ("/dev/rtp"): one session per open descriptor, each given a TDM
// channel of its own from a pool. The model holds what the daemon asked of each session;
// the media itself is not simulated.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>

#include "board/rtp.h"
#include "board/sim/RequestDef.h"

namespace board::sim {

struct RtpSession {
  bool begun = false;   // RTP_BEGIN_SESSION taken
  bool ended = false;   // RTP_END_SESSION taken
  bool stopped = false; // RTP_STOP taken
  board::rtp::rtp_connection_params params{};
  int channel = -1;     // the TDM channel, -1 before RTP_ADD_CHANNEL and after RTP_RELEASE
  bool receiving = false;
  bool pd = false;      // packet loss detection armed
  uint32_t pd_timeout = 0;
  std::optional<board::rtp::rtp_attach_session_params> attach;
};

class SimRtp {
 public:
  // The device's requests, as the board decodes and logs them.
  static std::span<const RequestDef> requests();

  // Channels are handed out from kFirstChannel on: within the tone and DSP devices' timeslot
  // range, clear of the controller channels and the bus outputs.
  static constexpr int kFirstChannel = 2048;
  static constexpr int kMaxChannels = 1024;

  // How many sessions may hold a channel at once (at most kMaxChannels).
  unsigned capacity = 128;

  // One request on the session of descriptor `handle`; sets error (an errno) on failure.
  int request(uint64_t handle, uint32_t number, uint8_t* record, int& error);
  // Every descriptor of the session is closed: the session and its channel go.
  void release(uint64_t handle);

  // Sessions by descriptor.
  const std::map<uint64_t, RtpSession>& sessions() const { return sessions_; }
  // The descriptor whose session holds `channel`.
  std::optional<uint64_t> handle_of(int channel) const;
  const RtpSession* session_of(int channel) const;
  unsigned channels_in_use() const;

  // The record of an event of `type` for the session on `channel`: for kEventPacketLoss without a
  // timeout, the one the session's detection was armed with.
  board::rtp::rtp_event event(int channel, uint32_t type, uint32_t value, std::optional<uint32_t> timeout) const;

 private:
  int add_channel(RtpSession& s, board::rtp::rtp_channel_info& info, int& error);

  std::map<uint64_t, RtpSession> sessions_;
};

}  // namespace board::sim
