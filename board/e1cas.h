#pragma once
// "/dev/e1-cas": channel-associated signalling of the E1 trunks. Every read returns one
// CasChannel record describing a change of a channel's signalling bits.
#include <cstddef>
#include <cstdint>

#include "board/BigEndian.h"

namespace board::e1cas {

inline constexpr const char* kPath = "/dev/e1-cas";

inline constexpr uint32_t CAS_OPEN_TRUNK = 0x80044300;   // trunk by value
inline constexpr uint32_t CAS_CLOSE_TRUNK = 0x80044301;  // trunk by value
inline constexpr uint32_t CAS_GET = 0xC00C4303;          // CasChannel, bits out
inline constexpr uint32_t CAS_ENABLE = 0xC0104304;       // CasEnable

inline constexpr int kTrunks = 4;
inline constexpr int kTimeslots = 32;

struct CasChannel {
  be_u32 trunk;
  be_u32 timeslot;
  uint8_t rx = 0;  // received ABCD bits
  uint8_t tx = 0;  // transmitted ABCD bits (low four bits)
  uint8_t reserved[2] = {};
};
static_assert(sizeof(CasChannel) == 12);
static_assert(offsetof(CasChannel, timeslot) == 4 && offsetof(CasChannel, rx) == 8 &&
              offsetof(CasChannel, tx) == 9 && offsetof(CasChannel, reserved) == 10);
static_assert(request_size(CAS_GET) == sizeof(CasChannel));

struct CasEnable {
  CasChannel channel;  // tx: the initial transmitted bits
  be_u32 disable;      // 0 enable, 1 disable
};
static_assert(sizeof(CasEnable) == 16);
static_assert(offsetof(CasEnable, disable) == 12);
static_assert(request_size(CAS_ENABLE) == sizeof(CasEnable));

}  // namespace board::e1cas
