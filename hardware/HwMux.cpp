#include "hardware/HwMux.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "board/board.h"
#include "board/hal.h"
#include "foundation/Mux.h"

HwMux* HwMux::instance() {
  static HwMux mux;
  return &mux;
}

HwMux::HwMux() {
  table_.fill(kDisabled);
  std::clog << "hwMux: init" << std::endl;
  IsOpened();
  dpc_.Bind(this, &HwMux::OnDPC);
}

HwMux::~HwMux() {
  if (fd_ >= 0) board::close(fd_);
  fd_ = -1;
  dpc_.Deactivate();
  dpc_.Bind(nullptr);
}

bool HwMux::IsOpened() {
  if (fd_ >= 0) return true;
  int fd = board::open(board::hal::kPath, O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    int error = errno;
    std::clog << "hwMux: can't open device: " << std::strerror(error) << std::endl;
    return false;
  }
  fd_ = fd;
  std::clog << "hwMux: device opened" << std::endl;
  for (int i = 0; i < kOutputs; ++i) {
    disable_request(kFirstOutput + i);
    table_[static_cast<size_t>(i)] = kDisabled;
  }
  cursor_ = 0;
  dpc_.Activate();
  // Gives the switch time to settle before the first connection.
  ::usleep(500);
  return true;
}

// Only the bus outputs are shadowed; a request for a channel past the last output still goes
// to the driver but leaves the table alone.
uint16_t* HwMux::shadow(int channel) {
  if (channel < kFirstOutput || channel >= kFirstOutput + kOutputs) return nullptr;
  return &table_[static_cast<size_t>(channel - kFirstOutput)];
}

bool HwMux::disable_request(int channel) {
  board::hal::MuxChannel r;
  r.channel = channel;
  return board::ioctl(fd_, board::hal::MUX_DISABLE, &r) >= 0;
}

bool HwMux::Connect(int source, int output) {
  if (!IsOpened() || source < 0 || output < 0) {
    std::clog << "hwMux: ERROR not opened" << std::endl;
    return false;
  }
  if (uint16_t* e = shadow(output)) *e = static_cast<uint16_t>(source);
  board::hal::MuxConnect r;
  r.output = output;
  r.source = source;
  if (board::ioctl(fd_, board::hal::MUX_CONNECT, &r) < 0) {
    int error = errno;
    std::clog << "hwMux: connect " << source << " -> " << output << " failed: " << std::strerror(error) << std::endl;
    return false;
  }
  return true;
}

bool HwMux::Disconnect(int channel) {
  if (!IsOpened() || channel < 0) return false;
  if (uint16_t* e = shadow(channel)) *e = kConstant;
  board::hal::MuxValue r;
  r.channel = channel;
  r.value = board::hal::kIdleByte;
  if (board::ioctl(fd_, board::hal::MUX_WRITE, &r) < 0) {
    int error = errno;
    std::clog << "hwMux: disconnect failed " << channel << " : " << std::strerror(error) << std::endl;
    return false;
  }
  return true;
}

bool HwMux::Disable(int channel) {
  if (!IsOpened() || channel < 0) return false;
  if (uint16_t* e = shadow(channel)) *e = kDisabled;
  if (!disable_request(channel)) {
    int error = errno;
    std::clog << "hwMux: disable failed " << channel << " : " << std::strerror(error) << std::endl;
    return false;
  }
  return true;
}

bool HwMux::Write(int channel, unsigned char byte) {
  if (!IsOpened() || channel < 0) return false;
  if (uint16_t* e = shadow(channel)) *e = kConstant;
  board::hal::MuxValue r;
  r.channel = channel;
  r.value = byte;
  if (board::ioctl(fd_, board::hal::MUX_WRITE, &r) < 0) {
    int error = errno;
    std::clog << "hwMux: write failed " << channel << " <- " << "0x" << std::hex << static_cast<unsigned>(byte)
              << std::dec << " : " << std::strerror(error) << std::endl;
    return false;
  }
  return true;
}

unsigned char HwMux::Read(int channel) {
  if (!IsOpened() || channel < 0) return 255;
  board::hal::MuxValue r;
  r.channel = channel;
  r.value = 255;
  if (board::ioctl(fd_, board::hal::MUX_READ, &r) < 0) {
    int error = errno;
    std::clog << "hwMux: read failed " << channel << " -> " << "0x" << std::hex
              << static_cast<uint32_t>(static_cast<int32_t>(r.value)) << std::dec << " : " << std::strerror(error)
              << std::endl;
    return 255;
  }
  return static_cast<unsigned char>(static_cast<int32_t>(r.value) & 0xFF);
}

void HwMux::RefreshChannel(int index) {
  if (index < 0 || index >= kOutputs) return;
  if (table_[static_cast<size_t>(index)] == kDisabled) disable_request(kFirstOutput + index);
}

void HwMux::OnDPC() {
  if (fd_ < 0) return;
  // The disabled outputs are re-sent to keep them quiet should the switch have lost its state;
  // that is a matter of milliseconds, not of loop passes. Pacing by the clock keeps the sweep
  // rate of a quiet loop and spares a busy one 128 requests on each of its passes.
  const uint32_t now = Mux::milliseconds();
  if (stepped_ && now - last_step_ms_ < kRefreshPeriodMs) return;
  stepped_ = true;
  last_step_ms_ = now;
  RefreshStep();
}

void HwMux::RefreshStep() {
  if (fd_ < 0) return;
  for (int step = 0; step < kRefreshPerPass; ++step) {
    if (++cursor_ > static_cast<unsigned>(kOutputs - 1)) cursor_ = 0;
    RefreshChannel(static_cast<int>(cursor_));
  }
}
