#pragma once
// Control of the board's synchronous network interfaces ("hdlc%d"): the interface requests
// of an IPv4 datagram socket that the modem slots use. Part of the device seam, so that the
// simulated board answers them in voxrelay-sim and the kernel does on the board.
#include <net/if.h>

#include <cstddef>
#include <cstdint>

namespace board {

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

// One interface request on the socket `sock`; the result of ioctl (-1 with errno).
int netif_ioctl(int sock, uint32_t request, ifreq* ifr);

}  // namespace board
