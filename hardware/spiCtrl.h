#pragma once
// SPI status of the eight line-interface channels behind the SPI bus of "/dev/hal": they are
// set up and enabled at start, one of them can be made the clock master, and while a
// controller is connected each channel's line status goes to it every second as a
// "trunkStatus" signal of type "bri". A device lost to a reset is opened again by the service
// itself, with or without a controller, and its channels and clock master brought back; the
// registers are read only for a controller's status rounds. It answers no command.
#include <array>
#include <cstdint>

#include "board/hal.h"
#include "control/CtrlSrvService.h"
#include "foundation/Event.h"
#include "foundation/TimerEvent.h"

class spiCtrl : public CtrlSrv::Service {
 public:
  static constexpr int kChannels = 8;
  // Registers of a line interface.
  static constexpr int kRegControl = 50;
  static constexpr int kRegStatus = 51;
  static constexpr int kRegClock = 87;
  static constexpr unsigned kStatusPeriodMs = 1000;
  // How often a device that could not be opened is tried again.
  static constexpr unsigned kWatchMs = 1000;

  static spiCtrl* instance();

  // Opens the device and brings up the channels.
  spiCtrl();
  ~spiCtrl() override;

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(LGCP::Command const&) override { return false; }

  // Makes channel (0 to 7) the clock master; -1 for none.
  void clock(int channel);
  void init_channel(int channel);
  void enable_channel(int channel);
  void disable_channel(int channel);
  // A register's value; 0 when it cannot be read.
  uint8_t read(int channel, int address);
  // False when the register could not be read.
  bool read(int channel, int address, uint8_t& value);
  bool write(int channel, int address, int data);
  // One round of status signals, then the next in a second.
  void status();
  void init_device_and_channels();

  bool spi_present() const { return spi_present_; }
  int fd() const { return fd_; }
  bool timer_armed() const { return timer_.is_set(); }
  bool watch_armed() const { return watch_.is_set(); }

 private:
  // A channel number that names one of the line interfaces; logs the refused operation.
  bool valid_channel(int channel, const char* operation) const;
  bool usable() const { return fd_ >= 0 && spi_present_; }
  // The driver has no SPI bus: every SPI operation stops for good.
  void lose_spi();
  // One register request. ENODEV comes from a driver without SPI and from a descriptor the
  // driver gave up (the device was reset): the request is made once more on a new descriptor,
  // whose channels are brought up again, and only ENODEV there means no SPI.
  int request(uint32_t number, board::hal::SpiRegister& r);
  // Opens a lost device again, once a second until it opens.
  void OnWatch();
  // The driver hung the descriptor up (the device was reset): it is opened again at once. This
  // finds a reset without a request, so no register is read while no controller is connected.
  void OnHangup(int fd, short revents);
  // Gives the descriptor up; the watch opens the device again.
  void drop_descriptor();

  int fd_ = -1;
  Timer timer_;
  Timer watch_;
  Event hangup_;  // watches the descriptor for the driver hanging it up; asks for no data
  int clock_master_ = -1;  // the channel made clock master, put back on a new descriptor
  bool spi_present_ = true;
  bool reopening_ = false;  // a new descriptor's channels are being brought up
  bool open_failed_ = false;  // the last open failed, and was logged
  // Whether the channel's slip bit was already reported: a slip counts once per rising edge.
  std::array<bool, kChannels> slip_seen_{};
};
