#pragma once
// "/dev/mcc/ctl": the multi-channel HDLC controller. Each open descriptor can hold one
// allocated channel; after allocation one read is one received frame, one write one frame.
#include <cstddef>
#include <cstdint>

#include "board/BigEndian.h"

namespace board::mcc {

inline constexpr const char* kPath = "/dev/mcc/ctl";

inline constexpr uint32_t MCC_ALLOCATE = 0x40144D00;   // Allocate
inline constexpr uint32_t MCC_TIMESLOT = 0x20004D02;   // no argument; result = switch channel
inline constexpr uint32_t MCC_RESOURCES = 0x80104D03;  // Resources, out

// Channel types of MCC_ALLOCATE.
inline constexpr uint32_t kTypeData = 0;
inline constexpr uint32_t kTypeBri = 1;
inline constexpr uint32_t kTypeTransparent = 2;
inline constexpr uint32_t kTypeSs7 = 3;

struct Allocate {
  be_u32 type;
  be_u32 rx_packet_size;
  be_u32 reserved;
  be_u32 rx_threshold;
  be_u32 tx_threshold;
};
static_assert(sizeof(Allocate) == 20);
static_assert(offsetof(Allocate, rx_packet_size) == 4 && offsetof(Allocate, reserved) == 8 &&
              offsetof(Allocate, rx_threshold) == 12 && offsetof(Allocate, tx_threshold) == 16);
static_assert(request_size(MCC_ALLOCATE) == sizeof(Allocate));

// Channel counts by kind: data, bri, transparent.
struct Resources {
  be_u32 data;
  be_u32 bri;
  be_u32 transparent;
  be_u32 reserved;
};
static_assert(sizeof(Resources) == 16);
static_assert(offsetof(Resources, bri) == 4 && offsetof(Resources, transparent) == 8);
static_assert(request_size(MCC_RESOURCES) == sizeof(Resources));

}  // namespace board::mcc
