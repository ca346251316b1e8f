#pragma once
// The board's TDM switch ("/dev/hal"): connects a source channel to an output, drives an
// output with a constant byte, disables it or reads what it carries. It shadows the 2048 bus
// outputs and keeps re-disabling the disabled ones in the background: at most 128 per step and
// at most one step per millisecond of the loop clock, so a busy loop does not pay it per pass.
#include <array>
#include <cstddef>
#include <cstdint>

#include "board/hal.h"
#include "foundation/Dpc.h"

class HwMux {
 public:
  // The bus outputs: channel = kFirstOutput + bus * 128 + timeslot, 16 buses.
  static constexpr int kFirstOutput = board::hal::kFirstOutput;
  static constexpr int kOutputs = board::hal::kOutputs;
  // Shadow entries besides a source channel.
  static constexpr uint16_t kDisabled = 0xFFFF;
  static constexpr uint16_t kConstant = 0xFFFE;
  static constexpr int kRefreshPerPass = 128;
  // A refresh step runs at most this often; a quiet loop (passes further apart) steps on every
  // pass, as it always did.
  static constexpr uint32_t kRefreshPeriodMs = 1;

  // The process-wide switch, constructed (and opened) at the first call.
  static HwMux* instance();

  HwMux();
  ~HwMux();
  HwMux(const HwMux&) = delete;
  HwMux& operator=(const HwMux&) = delete;

  // True when the device is open; otherwise tries to open it (and then disables every output).
  bool IsOpened();
  bool Connect(int source, int output);
  // Drives the channel with the idle byte 0xD5.
  bool Disconnect(int channel);
  bool Disable(int channel);
  bool Write(int channel, unsigned char byte);
  // The byte the channel carries; 255 on any failure.
  unsigned char Read(int channel);

  // Re-disables output kFirstOutput + index when its entry says disabled.
  void RefreshChannel(int index);
  // The background refresh, run on every loop pass: one step when the loop clock moved on by
  // kRefreshPeriodMs since the last step (or none was taken yet).
  void OnDPC();
  // One background step: the next kRefreshPerPass entries of the table.
  void RefreshStep();

  // For inspection.
  uint16_t entry(int index) const { return table_[static_cast<std::size_t>(index)]; }
  unsigned cursor() const { return cursor_; }
  int fd() const { return fd_; }

 private:
  // The shadow entry of an output channel, or null for a channel the table does not cover.
  uint16_t* shadow(int channel);
  bool disable_request(int channel);

  int fd_ = -1;
  std::array<uint16_t, kOutputs> table_{};
  unsigned cursor_ = 0;
  bool stepped_ = false;
  uint32_t last_step_ms_ = 0;
  Dpc dpc_;
};
