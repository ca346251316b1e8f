#pragma once
// The simulated radio-extension device "/dev/rtp_ext": one session per open descriptor with
// its init block, its RTP-session attachment and its one-source filter; the packets the daemon
// wrote on it; and the source (address, SSRC) of each injected packet still queued, which the
// receive-information request reports.
#include <cstdint>
#include <deque>
#include <map>
#include <unordered_map>

#include "board/sim/BoardState.h"

namespace board::sim {

struct RtpExtSession {
  int id = 0;  // numbered from 1 in the order the descriptors were opened
  bool open = true;
  bool initialised = false;
  uint16_t etype = 0;
  uint32_t mode = 0;
  uint32_t keepalive_pt = 0;
  uint32_t keepalive_period = 0;
  uint32_t keepalive_sigtime = 0;
  bool attached = false;
  int32_t fd_rtp = -1;
  int32_t pid_rtp = 0;
  bool filter = false;
  uint32_t filter_addr = 0;  // network order
  // Source of each packet delivered and not yet read, oldest first.
  struct Queued {
    uint32_t src_addr;  // network order
    uint32_t ssrc;
    uint32_t size;
  };
  std::deque<Queued> queued;
  std::deque<Bytes> sent;  // what the daemon wrote, oldest first (bounded)
  uint64_t sent_count = 0;
  uint64_t received_count = 0;  // injected packets delivered
  uint64_t dropped_count = 0;   // injected packets refused by the filter or a full socket
};

class SimRtpExt {
 public:
  static constexpr size_t kSentLimit = 1024;
  static constexpr size_t kClosedLimit = 256;  // closed sessions kept for inspection

  // The session of a descriptor, made on its first use.
  RtpExtSession& session(uint64_t key);
  // Executes one request on the session; `fd` is the daemon's descriptor (to see what it has
  // read so far). The result, or -1 with `error` set.
  int request(uint64_t key, int fd, uint32_t number, uint8_t* record, int& error);
  void packet_from_daemon(uint64_t key, const uint8_t* data, size_t size);
  void release(uint64_t key);
  void reset();

  // Whether the session takes a packet from this source (initialised, filter passes).
  bool accepts(uint64_t key, uint32_t src_addr);
  void delivered(uint64_t key, uint32_t src_addr, uint32_t ssrc, size_t size, bool ok);

  const std::map<int, RtpExtSession>& sessions() const { return sessions_; }
  const RtpExtSession* find(int id) const;

 private:
  void forget_consumed(RtpExtSession& s, int fd);

  std::map<int, RtpExtSession> sessions_;        // by id
  std::unordered_map<uint64_t, int> open_;       // descriptor key -> id
  int next_id_ = 1;
};

}  // namespace board::sim

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace board::sim {
class SimBoard;
// The text-protocol lines of this device ("rtp-ext-packet", "rtp-ext-sessions",
// "rtp-ext-sent"); nullopt for a line that is not one of them.
std::optional<std::string> rtp_ext_command(SimBoard& board, const std::vector<std::string_view>& words);
}  // namespace board::sim
