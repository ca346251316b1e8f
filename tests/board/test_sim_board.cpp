// The simulated board as the device code sees it: descriptors, records, request logs, failures.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "board/dsp.h"
#include "board/dtmf.h"
#include "board/e1cas.h"
#include "board/maintenance.h"
#include "board/rtp.h"
#include "board/sim/SimProtocol.h"
#include "tests/board/SimFixture.h"

namespace {

using board::sim::Bytes;
using board::sim::Device;
using board::sim::SimBoard;

using SimBoardTest = simtest::SimTest;

TEST_F(SimBoardTest, OpenAndRequestsBehaveLikeADriver) {
  EXPECT_EQ(board::open("/dev/nothing", O_RDWR), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(board::open("hal", O_RDWR), -1) << "short names are for the test API only";
  sim().fail_open(Device::dtmf, EACCES);
  EXPECT_EQ(open(board::dtmf::kPath), -1);
  EXPECT_EQ(errno, EACCES);
  sim().fail_open(Device::dtmf, 0);
  int fd = open(board::dtmf::kPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  EXPECT_EQ(::fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  char c;
  EXPECT_EQ(::read(fd, &c, 1), -1);
  EXPECT_EQ(errno, EAGAIN);

  hal_ = open(board::hal::kPath);
  EXPECT_EQ(board::ioctl(hal_, 0x12345678, nullptr), -1);
  EXPECT_EQ(errno, ENOTTY);
  EXPECT_EQ(board::ioctl_value(hal_, board::hal::MUX_DISABLE, 8192), -1) << "a record request given a value";
  EXPECT_EQ(errno, EFAULT);
  board::hal::MuxConnect bad;
  bad.output = 20000;
  bad.source = 1;
  EXPECT_EQ(board::ioctl(hal_, board::hal::MUX_CONNECT, &bad), -1);
  EXPECT_EQ(errno, EINVAL);
  connect(8200, 5);
  int regular = ::open("/dev/null", O_RDONLY);
  EXPECT_EQ(board::ioctl(regular, board::hal::MUX_CONNECT, &bad), -1);
  EXPECT_EQ(errno, ENOTTY);
  ::close(regular);
  auto log = sim().requests(Device::hal);
  ASSERT_EQ(log.size(), 4u) << "the descriptor that is not a device logs nothing";
  EXPECT_EQ(log[0].text(), "0x12345678 -> -1 ENOTTY");
  EXPECT_EQ(log[2].text(), "MUX_CONNECT output=20000 source=1 -> -1 EINVAL");
  EXPECT_EQ(log[3].arg("source"), 5);
  EXPECT_EQ(sim().state().mux.entry(8200).source, 5);

  // Through the pointer form a by-value request sees the pointer's bits, as in the kernel; a
  // value is the board's 32-bit word, whatever the width of the host's unsigned long.
  int cas = open(board::e1cas::kPath);
  EXPECT_EQ(board::ioctl(cas, board::e1cas::CAS_OPEN_TRUNK, reinterpret_cast<void*>(2)), 0);
  EXPECT_TRUE(sim().state().cas_trunk_open[2]);
  EXPECT_EQ(board::ioctl_value(cas, board::e1cas::CAS_OPEN_TRUNK, static_cast<unsigned long>(-1)), -1);
  EXPECT_EQ(sim().requests(Device::e1cas).back().text(), "CAS_OPEN_TRUNK trunk=4294967295 -> -1 EINVAL");
  int maintenance = open(board::maintenance::kPath);
  EXPECT_EQ(board::ioctl_value(maintenance, board::maintenance::SET_TCLK, static_cast<unsigned long>(-1)), 0);
  EXPECT_EQ(sim().state().tclk_mask, 0xFFFFFFFFu);

  // A hung-up device answers ENODEV on every descriptor of it that is still open.
  const int dup = ::dup(maintenance);
  sim().hangup(Device::maintenance);
  board::close(maintenance);
  forget(maintenance);
  EXPECT_EQ(board::ioctl_value(dup, board::maintenance::SET_TCLK, 1), -1);
  EXPECT_EQ(errno, ENODEV);
  board::close(dup);
}

// An injected failure meant for one request: by name or number, and by its first argument, so
// that the periodic requests that share the device (the refresh's disables) pass untouched.
TEST_F(SimBoardTest, AFailureNamingItsRequestFailsThatOneOnly) {
  board::sim::SimProtocol text(sim());
  hal_ = open(board::hal::kPath);
  auto disable = [&](int channel) {
    board::hal::MuxChannel d;
    d.channel = channel;
    return board::ioctl(hal_, board::hal::MUX_DISABLE, &d);
  };
  EXPECT_EQ(text.execute("fail hal EIO 2 MUX_DISABLE 8200"), "ok\n");
  EXPECT_EQ(text.execute("fail hal"), "ok 2\n");
  EXPECT_EQ(disable(8199), 0);
  connect(8200, 5);
  EXPECT_EQ(disable(8200), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(text.execute("fail hal"), "ok 1\n");
  EXPECT_EQ(text.execute("fail hal EBUSY 1 0x80084D02"), "ok\n") << "by number: connects only";
  EXPECT_EQ(disable(8201), 0);
  board::hal::MuxConnect c;
  c.output = 8201;
  c.source = 3;
  EXPECT_EQ(board::ioctl(hal_, board::hal::MUX_CONNECT, &c), -1);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_EQ(text.execute("fail hal EIO 1 any 8202"), "ok\n");
  connect(8203, 1);
  EXPECT_EQ(disable(8202), -1);
  EXPECT_EQ(text.execute("fail hal"), "ok 0\n");
  EXPECT_EQ(text.execute("fail hal EIO 1 NO_SUCH_REQUEST").rfind("error usage: fail", 0), 0u);
  EXPECT_EQ(text.execute("fail hal"), "ok 0\n") << "a malformed line changes nothing";
}

TEST_F(SimBoardTest, SwitchReadsWhatDrivesTheChannel) {
  hal_ = open(board::hal::kPath);
  auto read = [&](int channel) {
    board::hal::MuxValue v;
    v.channel = channel;
    v.value = 255;
    EXPECT_EQ(board::ioctl(hal_, board::hal::MUX_READ, &v), 0);
    return static_cast<int>(v.value);
  };
  board::hal::MuxValue w;
  w.channel = 8300;
  w.value = 0x5A;
  ASSERT_EQ(board::ioctl(hal_, board::hal::MUX_WRITE, &w), 0);
  EXPECT_EQ(read(8300), 0x5A);
  EXPECT_EQ(read(8301), 0xFF) << "an undriven output floats high";
  w.value = 256;
  EXPECT_EQ(board::ioctl(hal_, board::hal::MUX_WRITE, &w), -1);

  // 8400 is fed from input 8300, which a loopback cable fills with what output 8300 carries.
  connect(8400, 8300);
  EXPECT_EQ(read(8400), 0xFF);
  sim().state().mux.cable(8300, 8300);
  EXPECT_EQ(read(8400), 0x5A);
  // A cable ring must not hang the read.
  sim().state().mux.cable(8400, 8300);
  connect(8300, 8300);
  EXPECT_EQ(read(8400), 0xFF);
}

TEST_F(SimBoardTest, ControllerChannelLivesAsLongAsAnyDuplicate) {
  int fd;
  int ch = hdlc(fd, board::mcc::kTypeBri);
  board::mcc::Allocate again;
  EXPECT_EQ(board::ioctl(fd, board::mcc::MCC_ALLOCATE, &again), -1);
  EXPECT_EQ(errno, EBUSY);

  int dup = ::dup(fd);
  board::close(fd);
  forget(fd);
  EXPECT_EQ(board::ioctl(dup, board::mcc::MCC_TIMESLOT, nullptr), ch) << "requests work on a duplicate";
  ASSERT_TRUE(sim().hdlc_channel(ch)->open);

  int probe = open(board::mcc::kPath);
  EXPECT_EQ(board::ioctl(probe, board::mcc::MCC_TIMESLOT, nullptr), -1) << "no channel allocated yet";
  board::mcc::Resources r;
  ASSERT_EQ(board::ioctl(probe, board::mcc::MCC_RESOURCES, &r), 0);
  EXPECT_EQ(r.bri, sim().state().mcc_bri_capacity - 1);
  board::close(dup);
  ASSERT_EQ(board::ioctl(probe, board::mcc::MCC_RESOURCES, &r), 0);
  EXPECT_EQ(r.bri, sim().state().mcc_bri_capacity);
  EXPECT_FALSE(sim().hdlc_channel(ch)->open);
}

// The daemon duplicates channel descriptors and closes them with a plain close(), which the
// board does not see: a number reused by a duplicate of another channel (or device) is that
// one's.
TEST_F(SimBoardTest, ADuplicateOnAPlainlyClosedNumberReachesItsOwnDevice) {
  int a, b;
  const int ch_a = hdlc(a);
  const int ch_b = hdlc(b);
  const int rtp = open("/dev/rtp");
  const int keep = ::dup(a);
  forget(a);
  ::close(a);
  const int reused = ::fcntl(b, F_DUPFD_CLOEXEC, a);
  ASSERT_EQ(reused, a);
  EXPECT_EQ(board::ioctl(reused, board::mcc::MCC_TIMESLOT, nullptr), ch_b);
  EXPECT_EQ(board::ioctl(keep, board::mcc::MCC_TIMESLOT, nullptr), ch_a);
  ::close(reused);
  ASSERT_EQ(::fcntl(rtp, F_DUPFD_CLOEXEC, a), a);
  EXPECT_EQ(board::ioctl(a, board::rtp::RTP_STOP, nullptr), 0) << "an RTP request on an RTP descriptor";
  ::close(a);
  board::close(keep);
}

// A driver sends what it was handed before the close, even when the closing side left frames
// of its own unread (which makes the socket report a reset before the frames).
TEST_F(SimBoardTest, FramesWrittenBeforeTheLastCloseAreSentWithReceivedOnesUnread) {
  int fd;
  int ch = hdlc(fd);
  const uint8_t received[] = {0x0F};
  ASSERT_TRUE(sim().hdlc_frame(ch, received));
  const uint8_t last[] = {0x02, 0x01, 0x53};
  ASSERT_EQ(::write(fd, last, sizeof last), static_cast<ssize_t>(sizeof last));
  board::close(fd);
  forget(fd);
  EXPECT_EQ(sim().frames_sent(ch), (std::vector<Bytes>{{0x02, 0x01, 0x53}}));
  EXPECT_FALSE(sim().hdlc_channel(ch)->open);
}

// A transparent channel is a byte stream read in packets of its receive packet size (512 here):
// a long frame reaches a reader of that size whole, in pieces; an HDLC channel takes it as one.
TEST_F(SimBoardTest, ATransparentChannelReadsLongFramesInPiecesOfItsPacketSize) {
  hal_ = open(board::hal::kPath);
  int player, recorder, hdlc_fd;
  const int from = hdlc(player, board::mcc::kTypeTransparent);
  connect(hdlc(recorder, board::mcc::kTypeTransparent), from);
  connect(hdlc(hdlc_fd), from);
  Bytes frame(3000);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7);
  ASSERT_EQ(::write(player, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
  sim().service();
  Bytes got;
  std::vector<size_t> pieces;
  for (Bytes piece; !(piece = read_record(recorder, 512)).empty(); got.insert(got.end(), piece.begin(), piece.end()))
    pieces.push_back(piece.size());
  EXPECT_EQ(pieces, (std::vector<size_t>{512, 512, 512, 512, 512, 440}));
  EXPECT_EQ(got, frame);
  EXPECT_EQ(read_record(hdlc_fd, 4096), frame);
}

TEST_F(SimBoardTest, ToneEventsCarryTheDetectorsId) {
  int fd = open(board::dtmf::kPath, O_RDONLY | O_NONBLOCK);
  board::dtmf::DetectorEnable en;
  en.timeslot = 12;
  en.id = 77;
  ASSERT_EQ(board::ioctl(fd, board::dtmf::DTMF_ENABLE_DETECTOR, &en), 0);
  EXPECT_EQ(board::ioctl_value(fd, board::dtmf::DTMF_DISABLE_DETECTOR, 5000), -1) << "timeslot out of range";
  EXPECT_EQ(sim().dtmf_event(12, 0x31, 1000), 1u);
  EXPECT_EQ(read_record(fd), (Bytes{0, 0, 0, 0x31, 0, 0, 0, 12, 0, 0, 0x03, 0xE8, 0, 0, 0, 77}));

}

TEST_F(SimBoardTest, DspQueuesEveryEvent) {
  int fd = open(board::dsp::kPath, O_RDONLY | O_NONBLOCK);
  // Records queue while the reader is busy; none is lost or merged.
  for (int i = 0; i < 100; ++i) ASSERT_EQ(sim().dsp_flags(40, static_cast<uint32_t>(i), 0xFF), 1u) << i;
  for (int i = 0; i < 100; ++i) ASSERT_EQ(read_record(fd).at(15), i);
}

}  // namespace
