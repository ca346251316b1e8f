#pragma once
// "/dev/maintenance": the E1 framers' transmit-clock mask and per-trunk synchronisation status.
#include <cstddef>
#include <cstdint>

#include "board/BigEndian.h"

namespace board::maintenance {

inline constexpr const char* kPath = "/dev/maintenance";

inline constexpr uint32_t SET_TCLK = 0xC0044D0B;      // the mask by value (bit n: trunk n slave)
inline constexpr uint32_t TRUNK_STATUS = 0xC0504D03;  // TrunkStatus, trunk in, counters out

inline constexpr int kTrunks = 4;

struct TrunkStatus {
  be_u32 trunk;
  be_u32 unused1[8];
  be_u32 slips;
  be_u32 loss_bf;
  be_u32 loss_carrier;
  be_u32 ais;
  be_u32 rai;
  be_u32 unused2[5];
  be_u32 state;  // a trunk state code: 0 normal, 1 lossBF, 2 lossCarrier, 3 ais, 4 rai, 5 unknown, 6 disabled
};
static_assert(sizeof(TrunkStatus) == 80);
static_assert(offsetof(TrunkStatus, slips) == 36 && offsetof(TrunkStatus, loss_bf) == 40 &&
              offsetof(TrunkStatus, loss_carrier) == 44 && offsetof(TrunkStatus, ais) == 48 &&
              offsetof(TrunkStatus, rai) == 52 && offsetof(TrunkStatus, state) == 76);
static_assert(request_size(TRUNK_STATUS) == sizeof(TrunkStatus));

}  // namespace board::maintenance
