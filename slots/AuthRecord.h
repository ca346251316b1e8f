#pragma once
// Records of the local authentication channel between the PPP side and the daemon: 32-bit
// words in the host's byte order, the same in both directions. Every record starts with its
// total length, its kind and the session (the modem slot's modem_id()).
#include <cstddef>
#include <cstdint>

namespace auth {

inline constexpr uint32_t kRequest = 1;     // PPP side -> daemon
inline constexpr uint32_t kAccept = 2;      // daemon -> PPP side
inline constexpr uint32_t kIp = 3;          // daemon -> PPP side
inline constexpr uint32_t kAccounting = 4;  // PPP side -> daemon

// The longest record the channel carries, and the shortest that names a session.
inline constexpr uint32_t kMaxRecord = 512;
inline constexpr uint32_t kHeaderSize = 12;
inline constexpr size_t kTextSize = 64;

}  // namespace auth

struct attr {
  uint32_t length;
  uint32_t kind;
  int32_t session;
};
static_assert(sizeof(attr) == 12 && offsetof(attr, kind) == 4 && offsetof(attr, session) == 8);

struct voauth {
  attr head;
  char username[auth::kTextSize];
  char password[auth::kTextSize];
};
static_assert(sizeof(voauth) == 140 && offsetof(voauth, username) == 12 && offsetof(voauth, password) == 76);

struct voaccept {
  attr head;
  uint32_t accepted;
};
static_assert(sizeof(voaccept) == 16);

struct voip {
  attr head;
  uint32_t zero;
  uint32_t remoteAddr;  // network byte order, as inet_addr gives it
  uint32_t netmask;
  uint32_t gateway;
  uint32_t dns;
  uint32_t mtu;
};
static_assert(sizeof(voip) == 36 && offsetof(voip, remoteAddr) == 16 && offsetof(voip, mtu) == 32);

struct voacct {
  attr head;
  uint32_t unread1[3];
  uint32_t octetsOutHigh, octetsOutLow;
  uint32_t octetsInHigh, octetsInLow;
  uint32_t packetsOutHigh, packetsOutLow;
  uint32_t packetsInHigh, packetsInLow;
  uint32_t sessionTime;
  uint32_t unread2;
};
static_assert(sizeof(voacct) == 64 && offsetof(voacct, octetsOutHigh) == 24 && offsetof(voacct, packetsInLow) == 52 &&
              offsetof(voacct, sessionTime) == 56);

namespace auth {

// A record the daemon takes from the PPP side: a request or an accounting record of its size.
// Any other (the daemon's own kinds, an unknown kind, a size the slot refuses) moves nothing.
inline bool WellFormed(const attr& r) {
  return (r.kind == kRequest && r.length == sizeof(voauth)) || (r.kind == kAccounting && r.length == sizeof(voacct));
}

}  // namespace auth
