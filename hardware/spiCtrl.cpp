#include "hardware/spiCtrl.h"

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "asn1/schemas/ACP.h"
#include "board/board.h"
#include "board/hal.h"

namespace {

// Channels brought up at start: the eighth line interface stays down until asked for.
constexpr int kChannelsAtStart = 7;

// Register values of the line interfaces.
constexpr int kRegLineCode = 48;
constexpr int kRegLine1 = 52;
constexpr int kRegLine2 = 53;
constexpr int kRegLine3 = 54;
constexpr int kRegLine4 = 55;
constexpr uint8_t kControlDown = 128;
constexpr uint8_t kControlUp = 0;
constexpr uint8_t kClockSlave = 48;
constexpr uint8_t kClockMaster = 56;

// Bits of the status register.
constexpr uint8_t kStatusCarrier = 0x01;
constexpr uint8_t kStatusFrame = 0x04;
constexpr uint8_t kStatusSlip = 0x20;
constexpr uint8_t kStatusAlarmMask = 0xC0;
constexpr uint8_t kStatusRemoteAlarm = 0x80;
constexpr uint8_t kStatusNoAlarm = 0xC0;

ACP::TrunkState::NamedNumber LineState(uint8_t status) {
  if (!(status & kStatusCarrier)) return ACP::TrunkState::lossCarrier;
  if (!(status & kStatusFrame)) return ACP::TrunkState::lossBF;
  switch (status & kStatusAlarmMask) {
    case kStatusRemoteAlarm: return ACP::TrunkState::rai;
    case kStatusNoAlarm: return ACP::TrunkState::normal;
    default: return ACP::TrunkState::ais;
  }
}

}  // namespace

spiCtrl* spiCtrl::instance() {
  static spiCtrl service;
  return &service;
}

spiCtrl::spiCtrl() {
  hangup_.Bind<spiCtrl>("spi/hal", &spiCtrl::OnHangup, this);
  init_device_and_channels();
}

spiCtrl::~spiCtrl() {
  watch_.reset();
  hangup_.Release();
  if (fd_ < 0) return;
  timer_.reset();
  for (int channel = 0; channel < kChannels; ++channel) disable_channel(channel);
  clock(-1);
  board::close(fd_);
  fd_ = -1;
}

// A device away for now is opened by the status round (or the watch) once it can be.
void spiCtrl::OnConnect() {
  if (spi_present_) timer_.set(kStatusPeriodMs, &spiCtrl::status, this);
}

void spiCtrl::OnWatch() { init_device_and_channels(); }

void spiCtrl::OnHangup(int, short revents) {
  if (!(revents & (POLLHUP | POLLERR | POLLNVAL))) return;
  std::clog << "spi: /dev/hal hung up" << std::endl;
  drop_descriptor();
  init_device_and_channels();
}

void spiCtrl::drop_descriptor() {
  hangup_.Release();
  if (fd_ >= 0) board::close(fd_);
  fd_ = -1;
}

void spiCtrl::OnDisconnect() { timer_.reset(); }

void spiCtrl::init_device_and_channels() {
  if (fd_ >= 0 || !spi_present_) return;
  // Tried again at every use while the device stays away: logged once until it opens.
  if (!open_failed_) std::clog << "spi: try init" << std::endl;
  // Unlike every other device descriptor, this one is left open across exec.
  fd_ = board::open(board::hal::kPath, O_RDWR);
  if (fd_ < 0) {
    if (!open_failed_) std::clog << "spi: /dev/hal open fail" << std::endl;
    open_failed_ = true;
    if (!watch_.is_set()) watch_.set(kWatchMs, &spiCtrl::OnWatch, this);
    return;
  }
  open_failed_ = false;
  watch_.reset();
  // Only a hang-up is watched for: poll reports it whatever the mask. Without the watch (no
  // descriptor left for its duplicate) a reset is found at the next controller's status round.
  Fd watched(fd_);
  if (!hangup_.Schedule(watched, 0))
    std::clog << "spi: /dev/hal cannot be watched: " << std::strerror(errno) << std::endl;
  watched.release();
  for (int channel = 0; channel < kChannelsAtStart; ++channel) {
    init_channel(channel);
    enable_channel(channel);
  }
  if (clock_master_ >= 0 && write(clock_master_, kRegClock, kClockMaster))
    std::clog << "spi: set clock master on channel " << clock_master_ << std::endl;
}

bool spiCtrl::valid_channel(int channel, const char* operation) const {
  if (channel >= 0 && channel < kChannels) return true;
  std::clog << "spi: bad channel for " << operation << ' ' << channel << std::endl;
  return false;
}

void spiCtrl::init_channel(int channel) {
  init_device_and_channels();
  if (!usable() || !valid_channel(channel, "init")) return;
  write(channel, kRegControl, kControlDown);
  write(channel, kRegLineCode, 8);
  write(channel, kRegClock, kClockSlave);
  write(channel, kRegLine1, 96);
  write(channel, kRegLine2, 0);
  write(channel, kRegLine3, 0);
  write(channel, kRegLine4, 0);
  std::clog << "spi: init channel " << channel << std::endl;
}

void spiCtrl::enable_channel(int channel) {
  init_device_and_channels();
  if (!usable() || !valid_channel(channel, "enable")) return;
  write(channel, kRegControl, kControlUp);
  std::clog << "spi: enable channel " << channel << std::endl;
}

void spiCtrl::disable_channel(int channel) {
  init_device_and_channels();
  if (!usable() || !valid_channel(channel, "disable")) return;
  write(channel, kRegControl, kControlDown);
  std::clog << "spi: disable channel " << channel << std::endl;
}

void spiCtrl::clock(int channel) {
  init_device_and_channels();
  // Kept for a device not open now: its next descriptor gets it.
  if (channel >= -1 && channel < kChannels) clock_master_ = channel;
  if (!usable()) return;
  if (channel < -1 || channel >= kChannels) {
    std::clog << "spi: bad channel for set clock master " << channel << std::endl;
    return;
  }
  for (int c = 0; c < kChannels; ++c) write(c, kRegClock, kClockSlave);
  if (channel >= 0) {
    write(channel, kRegClock, kClockMaster);
    std::clog << "spi: set clock master on channel " << channel << std::endl;
  } else {
    std::clog << "spi: clock master disabled" << std::endl;
  }
}

void spiCtrl::lose_spi() {
  if (!spi_present_) return;
  spi_present_ = false;
  timer_.reset();
  watch_.reset();
  std::clog << "spi: hal without spi" << std::endl;
}

int spiCtrl::request(uint32_t number, board::hal::SpiRegister& r) {
  const int result = board::ioctl(fd_, number, &r);
  if (result >= 0 || errno != ENODEV || reopening_) return result;
  const board::hal::SpiRegister asked = r;
  drop_descriptor();
  reopening_ = true;
  init_device_and_channels();
  reopening_ = false;
  if (!usable()) {
    // No SPI on the new descriptor either; or no new descriptor, which the next use retries.
    errno = spi_present_ ? EIO : ENODEV;
    return -1;
  }
  r = asked;
  return board::ioctl(fd_, number, &r);
}

bool spiCtrl::write(int channel, int address, int data) {
  if (!usable()) return false;
  board::hal::SpiRegister r;
  r.channel = static_cast<uint8_t>(channel);
  r.address = static_cast<uint8_t>(address);
  r.data = static_cast<uint8_t>(data);
  if (request(board::hal::SPI_WRITE, r) >= 0) return true;
  if (errno == ENODEV)
    lose_spi();
  else
    std::clog << "spi: write error: channel=" << channel << " addr=" << address << " data=" << data << std::endl;
  return false;
}

bool spiCtrl::read(int channel, int address, uint8_t& value) {
  if (!usable()) return false;
  board::hal::SpiRegister r;
  r.channel = static_cast<uint8_t>(channel);
  r.address = static_cast<uint8_t>(address);
  r.data = 0xFF;
  const int result = request(board::hal::SPI_READ, r);
  if (result >= 0) {
    value = static_cast<uint8_t>(result & 0xFF);
    return true;
  }
  if (errno == ENODEV)
    lose_spi();
  else
    std::clog << "spi: read error: channel=" << channel << " addr=" << address << std::endl;
  return false;
}

uint8_t spiCtrl::read(int channel, int address) {
  uint8_t value = 0;
  return read(channel, address, value) ? value : 0;
}

void spiCtrl::status() {
  if (!spi_present_) return;
  // A descriptor lost to a reset that could not be opened again at once.
  init_device_and_channels();
  for (int channel = 0; channel < kChannels; ++channel) {
    uint8_t r = 0;
    // A register that cannot be read says nothing about the line: no report rather than a
    // false loss of carrier.
    if (!read(channel, kRegStatus, r)) {
      if (!spi_present_) return;
      if (fd_ < 0) break;
      continue;
    }
    int slips = 0;
    bool& seen = slip_seen_[static_cast<size_t>(channel)];
    if (!(r & kStatusSlip)) {
      seen = false;
    } else if (!seen) {
      slips = 1;
      seen = true;
    }
    LGCP::Signal signal;
    ACP::TrunkStatus& s = signal.select_trunkStatus();
    s.set_trunk(channel);
    s.set_state(LineState(r));
    s.set_slips(slips);
    s.set_lossBF(0);
    s.set_lossCarrier(0);
    s.set_lossAIS(0);
    s.set_lossRAI(0);
    s.set_clockMaster(false);
    s.set_type(ACP::TrunkType::bri);
    SendSignal(signal);
  }
  timer_.set(kStatusPeriodMs, &spiCtrl::status, this);
}
