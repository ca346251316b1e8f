#pragma once
// Far ends outside the simulator: an outside process that plays the other end of a trunk
// timeslot (or of a controller channel) through a Unix-domain SOCK_SEQPACKET socket on which
// it listens. One packet is one frame as it stands between the HDLC flags, without the FCS.
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>

namespace board::sim {

class SimFarEnd {
 public:
  // Epoll keys of far-end sockets carry this bit, apart from the keys of device descriptors.
  static constexpr uint64_t kKeyTag = uint64_t{1} << 63;
  static bool is_far_end_key(uint64_t key) { return (key & kKeyTag) != 0; }

  struct Tie {
    int fd = -1;
    std::string path;
    uint64_t sent = 0;      // frames written to the socket
    uint64_t received = 0;  // packets read from the socket
    uint64_t dropped = 0;   // frames the socket would not take
  };

  explicit SimFarEnd(int epoll_fd) : epoll_fd_(epoll_fd) {}
  ~SimFarEnd();
  SimFarEnd(const SimFarEnd&) = delete;
  SimFarEnd& operator=(const SimFarEnd&) = delete;

  // Connects `channel` (switch numbering) to the socket listening at `path`, replacing an
  // earlier tie of that channel. Returns 0 or the errno of the failure.
  int tie(int channel, const std::string& path);
  // Closes the socket of `channel`; false when it was not tied.
  bool untie(int channel);
  void reset();

  const Tie* find(int channel) const;
  const std::map<int, Tie>& ties() const { return ties_; }

  // Hands a frame that reached `channel` to its far end, if it has one. Never blocks: a
  // frame the socket cannot take now is counted and dropped, as a line would lose it.
  void send(int channel, std::span<const uint8_t> frame);

  // Reads what the far end of the keyed socket sent: `arrived(channel, frame)` for each packet.
  // A far end that hangs up is untied.
  void drain(uint64_t key, uint32_t events, const std::function<void(int, std::span<const uint8_t>)>& arrived);

 private:
  int epoll_fd_;
  std::map<int, Tie> ties_;
};

}  // namespace board::sim
