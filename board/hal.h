#pragma once
// "/dev/hal": the board driver of the TDM switch, the bus clock source, the SPI line
// interfaces, the DIP switch, the power status and the framer LEDs.
#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "board/BigEndian.h"

namespace board::hal {

inline constexpr const char* kPath = "/dev/hal";

// TDM switch (type 'M'). Channels 8192 to 10239 are the outputs of the 16 TDM buses.
inline constexpr uint32_t MUX_CONNECT = 0x80084D02;  // MuxConnect
inline constexpr uint32_t MUX_DISABLE = 0x80044D03;  // MuxChannel
inline constexpr uint32_t MUX_WRITE = 0xC0084D04;    // MuxValue: drive a constant byte
inline constexpr uint32_t MUX_READ = 0xC0084D05;     // MuxValue: value preset to 255, returned

// Bus clock source (type 'C'): a pointer to one 32-bit source number.
inline constexpr uint32_t HW_CLOCK_SELECT = 0x80044301;  // ClockSource

// SPI registers of the line interfaces (type 'B'); a read returns the register as the result.
inline constexpr uint32_t SPI_READ = 0xC0034203;   // SpiRegister, data preset to 0xFF
inline constexpr uint32_t SPI_WRITE = 0xC0034204;  // SpiRegister

// One-byte board registers (type 'B').
inline constexpr uint32_t DIP_READ = 0xC0014205;    // ByteRegister out: DIP switch
inline constexpr uint32_t POWER_READ = 0xC0014206;  // ByteRegister out: power status code
inline constexpr uint32_t LED_WRITE = 0xC0014207;   // ByteRegister in: framer LEDs

inline constexpr int kFirstOutput = 8192;
inline constexpr int kOutputs = 2048;
// The switch's channels: 0 up to (not including) kChannels; a request for another is refused.
inline constexpr int kChannels = 16384;
inline constexpr uint8_t kIdleByte = 0xD5;

struct MuxConnect {
  be_i32 output;
  be_i32 source;
};
static_assert(sizeof(MuxConnect) == 8);
static_assert(offsetof(MuxConnect, output) == 0 && offsetof(MuxConnect, source) == 4);

struct MuxChannel {
  be_i32 channel;
};
static_assert(sizeof(MuxChannel) == 4);

struct MuxValue {
  be_i32 channel;
  be_i32 value;
};
static_assert(sizeof(MuxValue) == 8);
static_assert(offsetof(MuxValue, channel) == 0 && offsetof(MuxValue, value) == 4);

struct ClockSource {
  be_i32 source;
};
static_assert(sizeof(ClockSource) == 4);

struct SpiRegister {
  uint8_t channel = 0;
  uint8_t address = 0;
  uint8_t data = 0;
};
static_assert(sizeof(SpiRegister) == 3);
static_assert(offsetof(SpiRegister, address) == 1 && offsetof(SpiRegister, data) == 2);

struct ByteRegister {
  uint8_t value = 0;
};
static_assert(sizeof(ByteRegister) == 1);

static_assert(request_size(MUX_CONNECT) == sizeof(MuxConnect));
static_assert(request_size(MUX_DISABLE) == sizeof(MuxChannel));
static_assert(request_size(MUX_WRITE) == sizeof(MuxValue));
static_assert(request_size(MUX_READ) == sizeof(MuxValue));
static_assert(request_size(HW_CLOCK_SELECT) == sizeof(ClockSource));
static_assert(request_size(SPI_READ) == sizeof(SpiRegister));
static_assert(request_size(DIP_READ) == sizeof(ByteRegister));

}  // namespace board::hal
