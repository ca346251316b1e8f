#pragma once
// The simulated board reset around each test, the descriptors a test opens closed after it, and
// the shared steps: an HDLC controller channel, a switch connection, a record.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "board/board.h"
#include "board/hal.h"
#include "board/mcc.h"
#include "board/sim/SimBoard.h"

namespace simtest {

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override { sim().reset(); }
  void TearDown() override {
    for (int fd : fds_) board::close(fd);
    sim().reset();
  }
  static board::sim::SimBoard& sim() { return board::sim::SimBoard::instance(); }

  // A descriptor that opens is closed after the test.
  int open(const char* path, int flags = O_RDWR | O_NONBLOCK | O_CLOEXEC) {
    int fd = board::open(path, flags);
    if (fd >= 0) fds_.push_back(fd);
    return fd;
  }
  // The test closes `fd` itself.
  void forget(int fd) { std::erase(fds_, fd); }

  // An HDLC controller channel on its own descriptor; returns its switch channel.
  int hdlc(int& fd, uint32_t type = board::mcc::kTypeData) {
    fd = open(board::mcc::kPath);
    board::mcc::Allocate a;
    a.type = type;
    a.rx_packet_size = 512;
    EXPECT_EQ(board::ioctl(fd, board::mcc::MCC_ALLOCATE, &a), 0);
    return board::ioctl(fd, board::mcc::MCC_TIMESLOT, nullptr);
  }
  // Drives switch output `output` from `source` through the switch descriptor `hal_`.
  void connect(int output, int source) {
    board::hal::MuxConnect c;
    c.output = output;
    c.source = source;
    ASSERT_EQ(board::ioctl(hal_, board::hal::MUX_CONNECT, &c), 0);
  }
  // The next record of `fd`, at most `max` bytes of it; empty when none is waiting.
  static board::sim::Bytes read_record(int fd, size_t max = 256) {
    board::sim::Bytes record(max);
    ssize_t n = ::read(fd, record.data(), record.size());
    record.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return record;
  }

  int hal_ = -1;
  std::vector<int> fds_;
};

}  // namespace simtest
