#pragma once
// The board's TDM switch ("/dev/hal"): connects a source channel to an output, drives an
// output with a constant byte, disables it or reads what it carries. It shadows the 2048 bus
// outputs and keeps re-disabling the disabled ones in the background, a step of 128 outputs
// every kRefreshPeriodMs on the loop's timer: a full sweep about once a second, whatever the
// loop's traffic.
//
// A descriptor that the driver gave up (the device was reset) is dropped and the device opened
// again at once, then retried every kReopenMs while it stays away; a new descriptor gets the
// shadow table sent again, so that the paths of live calls stand and disabled outputs stay
// quiet. While the device is away every request fails.
#include <array>
#include <cstddef>
#include <cstdint>

#include "board/hal.h"
#include "foundation/TimerEvent.h"

class HwMux {
 public:
  // The bus outputs: channel = kFirstOutput + bus * 128 + timeslot, 16 buses.
  static constexpr int kFirstOutput = board::hal::kFirstOutput;
  static constexpr int kOutputs = board::hal::kOutputs;
  // Shadow entries besides a source channel.
  static constexpr uint16_t kDisabled = 0xFFFF;
  static constexpr uint16_t kConstant = 0xFFFE;
  static constexpr int kRefreshPerPass = 128;
  // 16 steps of 128 a second: at most about 2,100 requests a second for the refresh.
  static constexpr unsigned kRefreshPeriodMs = 62;
  // A device that stays away is tried again this often.
  static constexpr unsigned kReopenMs = 1000;

  // The process-wide switch, constructed (and opened) at the first call.
  static HwMux* instance();

  HwMux();
  ~HwMux();
  HwMux(const HwMux&) = delete;
  HwMux& operator=(const HwMux&) = delete;

  // True when the device is open; otherwise tries to open it (and then sends the table).
  bool IsOpened();
  // The table's entry changes only when the switch took the request (a refused disable keeps
  // the output disabled in the table, for the refresh to send again).
  bool Connect(int source, int output);
  // Drives the channel with the idle byte 0xD5.
  bool Disconnect(int channel);
  bool Disable(int channel);
  bool Write(int channel, unsigned char byte);
  // The byte the channel carries; 255 on any failure.
  unsigned char Read(int channel);

  // Re-disables output kFirstOutput + index when its entry says disabled.
  void RefreshChannel(int index);
  // The refresh timer: one step, or an open of a device that is away when kReopenMs passed.
  void OnRefreshTimer();
  // One background step: the next kRefreshPerPass entries of the table.
  void RefreshStep();

  // For inspection.
  uint16_t entry(int index) const { return table_[static_cast<std::size_t>(index)]; }
  unsigned cursor() const { return cursor_; }
  int fd() const { return fd_; }

 private:
  // The shadow entry of an output channel, or null for a channel the table does not cover.
  uint16_t* shadow(int channel);
  // The request on the device, opened first when it is closed. A descriptor the driver gave
  // up is dropped and the request made once more on a new one; -1 (errno set) on failure.
  int request(uint32_t number, void* arg);
  bool disable_request(int channel);
  void set_constant(int channel, uint8_t byte);
  // Opens the device and sends the table; a failure is logged unless quiet.
  bool open_device(bool quiet);
  // Closes a descriptor the driver gave up.
  void drop(int error);
  // Sends every entry of the table: connected and constant outputs as they are, the others
  // disabled.
  void send_table();

  int fd_ = -1;
  std::array<uint16_t, kOutputs> table_{};
  // The byte of each constant entry.
  std::array<uint8_t, kOutputs> bytes_{};
  unsigned cursor_ = 0;
  uint32_t last_open_ms_ = 0;  // loop clock of the last failed open
  Timer refresh_;
};
