#pragma once
// The board's network-interface requests: ioctls on a socket of the device seam
// (board::socket, board::ioctl), so that the simulated board answers them in voxrelay-sim and
// the kernel does on the board. The link-state readers ask for names and flags; the modem slots
// configure the synchronous interfaces ("hdlc%d").
#include <net/if.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

#include "board/board.h"

namespace board {

inline constexpr uint32_t SIOCGIFNAME_ = 0x8910;
inline constexpr uint32_t SIOCGIFFLAGS_ = 0x8913;
inline constexpr uint32_t SIOCSIFFLAGS_ = 0x8914;
inline constexpr uint32_t SIOCGIFINDEX_ = 0x8933;
inline constexpr uint32_t SIOCWANDEV_ = 0x894A;

// Settings types of SIOCWANDEV.
inline constexpr uint32_t IF_GET_IFACE_ = 0x0001;
inline constexpr uint32_t IF_PROTO_HDLC_ = 0x2000;
inline constexpr uint32_t IF_PROTO_PPP_ = 0x2001;

// The settings block of SIOCWANDEV in the request's union: type, size of the buffer, buffer.
struct IfSettings {
  uint32_t type;
  uint32_t size;
  void* data;
};
static_assert(offsetof(IfSettings, size) == 4 && offsetof(IfSettings, data) == 8);
static_assert(sizeof(IfSettings) <= sizeof(ifreq::ifr_ifru));

inline IfSettings& settings_of(ifreq& ifr) { return *reinterpret_cast<IfSettings*>(&ifr.ifr_ifru); }

// Raw HDLC settings of IF_PROTO_HDLC: encoding and parity, two 16-bit words.
struct RawHdlcProto {
  uint16_t encoding;
  uint16_t parity;
};
static_assert(sizeof(RawHdlcProto) == 4 && offsetof(RawHdlcProto, parity) == 2);

// An IPv4 datagram socket of the seam for interface requests, closed with the object.
class InterfaceSocket {
 public:
  InterfaceSocket() : fd_(board::socket(AF_INET, SOCK_DGRAM, 0)) {}
  ~InterfaceSocket() {
    if (fd_ >= 0) board::close(fd_);
  }
  InterfaceSocket(const InterfaceSocket&) = delete;
  InterfaceSocket& operator=(const InterfaceSocket&) = delete;

  explicit operator bool() const { return fd_ >= 0; }
  // One interface request: the result of ioctl (-1 with errno).
  int request(uint32_t number, ifreq& ifr) const { return board::ioctl(fd_, number, &ifr); }

 private:
  int fd_;
};

}  // namespace board
