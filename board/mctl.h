#pragma once
// "/dev/mctl": the modem control driver. Its requests are plain numbers (no direction or size
// bits); they take no argument, a value, or a pointer to a block of 32-bit words in the
// board's (big-endian) order. The modem number of a block is the one that 0xBB0B allocated.
#include <cstddef>
#include <cstdint>

#include "board/BigEndian.h"

namespace board::mctl {

inline constexpr const char* kPath = "/dev/mctl";

inline constexpr uint32_t MDM_ALLOCATE = 0xBB0B;      // no argument; result: the modem number
inline constexpr uint32_t MDM_ENUM = 0xBB0C;          // previous number by value; ENODEV after the last
inline constexpr uint32_t MDM_GET_TIMESLOT = 0xBB15;  // no argument; result: the TDM channel
inline constexpr uint32_t MDM_SET_DDM = 0xBB16;       // ModemFlags
inline constexpr uint32_t MDM_RESET_PARAMS = 0xBB3A;  // ModemOnly
inline constexpr uint32_t MDM_SET_PARAM = 0xBB38;     // ModemParam
inline constexpr uint32_t MDM_ANSWER = 0xBB03;        // ModemOnly
inline constexpr uint32_t MDM_ORIGINATE = 0xBB04;     // ModemOnly
inline constexpr uint32_t MDM_FAX_ORIGINATE = 0xBB40; // ModemOnly

// Digital data mode flags of MDM_SET_DDM.
inline constexpr uint32_t kDdmV110 = 1u << 0;
inline constexpr uint32_t kDdm8Bit = 1u << 1;
inline constexpr uint32_t kDdm7Bit = 1u << 2;

struct ModemOnly {
  be_i32 modem;
  be_i32 unused = -1;
};
static_assert(sizeof(ModemOnly) == 8 && offsetof(ModemOnly, unused) == 4);

struct ModemFlags {
  be_i32 modem;
  be_u32 flags;
};
static_assert(sizeof(ModemFlags) == 8 && offsetof(ModemFlags, flags) == 4);

struct ModemParam {
  be_i32 modem;
  be_i32 offset;
  be_i32 value;
};
static_assert(sizeof(ModemParam) == 12 && offsetof(ModemParam, offset) == 4 && offsetof(ModemParam, value) == 8);

}  // namespace board::mctl
