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
  refresh_.set(kRefreshPeriodMs, &HwMux::OnRefreshTimer, this);
}

HwMux::~HwMux() {
  refresh_.reset();
  if (fd_ >= 0) board::close(fd_);
  fd_ = -1;
}

bool HwMux::IsOpened() { return fd_ >= 0 || open_device(false); }

bool HwMux::open_device(bool quiet) {
  int fd = board::open(board::hal::kPath, O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    int error = errno;
    last_open_ms_ = Mux::milliseconds();
    if (!quiet) std::clog << "hwMux: can't open device: " << std::strerror(error) << std::endl;
    errno = error;
    return false;
  }
  fd_ = fd;
  std::clog << "hwMux: device opened" << std::endl;
  send_table();
  cursor_ = 0;
  // Gives the switch time to settle before the first connection.
  ::usleep(500);
  return fd_ >= 0;
}

void HwMux::send_table() {
  for (int i = 0; i < kOutputs && fd_ >= 0; ++i) {
    const int channel = kFirstOutput + i;
    const uint16_t e = table_[static_cast<size_t>(i)];
    int r;
    if (e == kDisabled) {
      r = disable_request(channel) ? 0 : -1;
    } else if (e == kConstant) {
      board::hal::MuxValue v;
      v.channel = channel;
      v.value = bytes_[static_cast<size_t>(i)];
      r = board::ioctl(fd_, board::hal::MUX_WRITE, &v);
    } else {
      board::hal::MuxConnect c;
      c.output = channel;
      c.source = e;
      r = board::ioctl(fd_, board::hal::MUX_CONNECT, &c);
    }
    // Gone again at once: the next request or the retry opens it anew and starts over.
    if (r < 0 && board::descriptor_gone(errno)) drop(errno);
  }
}

void HwMux::drop(int error) {
  std::clog << "hwMux: device gone: " << std::strerror(error) << std::endl;
  board::close(fd_);
  fd_ = -1;
  last_open_ms_ = Mux::milliseconds();
}

int HwMux::request(uint32_t number, void* arg) {
  if (!IsOpened()) return -1;
  const int r = board::ioctl(fd_, number, arg);
  if (r >= 0 || !board::descriptor_gone(errno)) return r;
  const int error = errno;
  drop(error);
  if (!open_device(false)) {
    errno = error;
    return -1;
  }
  return board::ioctl(fd_, number, arg);
}

void HwMux::set_constant(int channel, uint8_t byte) {
  if (uint16_t* e = shadow(channel)) {
    *e = kConstant;
    bytes_[static_cast<size_t>(channel - kFirstOutput)] = byte;
  }
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
  board::hal::MuxConnect r;
  r.output = output;
  r.source = source;
  if (request(board::hal::MUX_CONNECT, &r) < 0) {
    int error = errno;
    std::clog << "hwMux: connect " << source << " -> " << output << " failed: " << std::strerror(error) << std::endl;
    return false;
  }
  if (uint16_t* e = shadow(output)) *e = static_cast<uint16_t>(source);
  return true;
}

bool HwMux::Disconnect(int channel) {
  if (!IsOpened() || channel < 0) return false;
  board::hal::MuxValue r;
  r.channel = channel;
  r.value = board::hal::kIdleByte;
  if (request(board::hal::MUX_WRITE, &r) < 0) {
    int error = errno;
    std::clog << "hwMux: disconnect failed " << channel << " : " << std::strerror(error) << std::endl;
    return false;
  }
  set_constant(channel, board::hal::kIdleByte);
  return true;
}

bool HwMux::Disable(int channel) {
  if (!IsOpened() || channel < 0) return false;
  if (uint16_t* e = shadow(channel)) *e = kDisabled;
  board::hal::MuxChannel r;
  r.channel = channel;
  if (request(board::hal::MUX_DISABLE, &r) < 0) {
    int error = errno;
    std::clog << "hwMux: disable failed " << channel << " : " << std::strerror(error) << std::endl;
    return false;
  }
  return true;
}

bool HwMux::Write(int channel, unsigned char byte) {
  if (!IsOpened() || channel < 0) return false;
  board::hal::MuxValue r;
  r.channel = channel;
  r.value = byte;
  if (request(board::hal::MUX_WRITE, &r) < 0) {
    int error = errno;
    std::clog << "hwMux: write failed " << channel << " <- " << "0x" << std::hex << static_cast<unsigned>(byte)
              << std::dec << " : " << std::strerror(error) << std::endl;
    return false;
  }
  set_constant(channel, byte);
  return true;
}

unsigned char HwMux::Read(int channel) {
  if (!IsOpened() || channel < 0) return 255;
  board::hal::MuxValue r;
  r.channel = channel;
  r.value = 255;
  if (request(board::hal::MUX_READ, &r) < 0) {
    int error = errno;
    std::clog << "hwMux: read failed " << channel << " -> " << "0x" << std::hex
              << static_cast<uint32_t>(static_cast<int32_t>(r.value)) << std::dec << " : " << std::strerror(error)
              << std::endl;
    return 255;
  }
  return static_cast<unsigned char>(static_cast<int32_t>(r.value) & 0xFF);
}

void HwMux::RefreshChannel(int index) {
  if (index < 0 || index >= kOutputs || fd_ < 0) return;
  if (table_[static_cast<size_t>(index)] != kDisabled || disable_request(kFirstOutput + index)) return;
  if (!board::descriptor_gone(errno)) return;
  drop(errno);
  open_device(false);
}

void HwMux::OnRefreshTimer() {
  refresh_.set(kRefreshPeriodMs, &HwMux::OnRefreshTimer, this);
  if (fd_ >= 0) return RefreshStep();
  if (Mux::milliseconds() - last_open_ms_ >= kReopenMs) open_device(true);
}

void HwMux::RefreshStep() {
  if (fd_ < 0) return;
  for (int step = 0; step < kRefreshPerPass; ++step) {
    if (++cursor_ > static_cast<unsigned>(kOutputs - 1)) cursor_ = 0;
    RefreshChannel(static_cast<int>(cursor_));
  }
}
