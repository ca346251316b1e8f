#pragma once
// "/dev/rtp": the RTP device. Every read returns one rtp_event record.
#include <cstddef>
#include <cstdint>

#include "board/BigEndian.h"

namespace board::rtp {

inline constexpr const char* kPath = "/dev/rtp";

// rtp_event types.
inline constexpr uint32_t kEventPacketLoss = 1;  // word 1: the value, word 2: the time-out

struct rtp_event {
  be_u32 type;
  be_u32 value;
  be_u32 timeout;
  uint8_t reserved[24] = {};
};
static_assert(sizeof(rtp_event) == 36);
static_assert(offsetof(rtp_event, value) == 4 && offsetof(rtp_event, timeout) == 8);

}  // namespace board::rtp
