// An outside process on a SOCK_SEQPACKET socket plays the far end of a timeslot or channel.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "tests/board/SimFixture.h"
#include "tests/support/TempDir.h"
#include "tests/support/peer_listen.h"

namespace {

using board::sim::Bytes;

// The outside process: a listening socket and the connection the simulator makes to it.
class Listener {
 public:
  explicit Listener(const std::string& path) : path_(path), fd_(peer_listen(path.c_str())) {
    EXPECT_GE(fd_, 0);
  }
  ~Listener() {
    if (peer_ >= 0) ::close(peer_);
    ::close(fd_);
  }
  int accept() { return peer_ = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC); }
  Bytes recv() {
    uint8_t buf[512];
    ssize_t n = ::recv(peer_, buf, sizeof buf, MSG_DONTWAIT);
    return n < 0 ? Bytes{} : Bytes(buf, buf + n);
  }
  void send(const Bytes& b) { ASSERT_EQ(::send(peer_, b.data(), b.size(), 0), static_cast<ssize_t>(b.size())); }
  void hang_up() {
    ::close(peer_);
    peer_ = -1;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
  int peer_ = -1;
};

class SimFarEndTest : public simtest::SimTest {
 protected:
  int hdlc(int& fd) { return SimTest::hdlc(fd, board::mcc::kTypeBri); }
  static Bytes read_frame(int fd) { return read_record(fd, 512); }

  vxtest::TempDir dir_{"vx_farend"};
};

TEST_F(SimFarEndTest, FramesGoBothWaysOnATimeslotOrAControllerChannelUntilUntied) {
  hal_ = open(board::hal::kPath);
  int fd, fd2;
  int ch = hdlc(fd), ch2 = hdlc(fd2);
  constexpr int kTimeslot = 8192 + 3;
  connect(kTimeslot, ch);
  connect(ch, kTimeslot);
  Listener far(dir_.path() + "/d-channel"), mcc(dir_.path() + "/mcc");
  ASSERT_EQ(sim().tie_far_end(kTimeslot, far.path()), 0);
  ASSERT_GE(far.accept(), 0);
  ASSERT_EQ(sim().tie_far_end(ch2, mcc.path()), 0) << "no switch connection needed for a channel's own far end";
  ASSERT_GE(mcc.accept(), 0);

  const Bytes sabme{0x00, 0x01, 0x7F};
  ASSERT_EQ(::write(fd, sabme.data(), sabme.size()), 3);
  ASSERT_EQ(::write(fd2, sabme.data(), 2), 2);
  sim().service();
  EXPECT_EQ(far.recv(), sabme) << "one packet per frame, exactly as written";
  EXPECT_EQ(mcc.recv(), (Bytes{0x00, 0x01}));

  const Bytes ua{0x00, 0x01, 0x73};
  far.send(ua);
  far.send(Bytes{0x02, 0x01, 0x01, 0x01});
  mcc.send(ua);
  sim().service();
  EXPECT_EQ(read_frame(fd), ua);
  EXPECT_EQ(read_frame(fd), (Bytes{0x02, 0x01, 0x01, 0x01}));
  EXPECT_EQ(read_frame(fd2), ua);
  EXPECT_EQ(sim().far_end().find(kTimeslot)->received, 2u);

  EXPECT_TRUE(sim().untie_far_end(kTimeslot));
  EXPECT_FALSE(sim().untie_far_end(kTimeslot));
  ASSERT_EQ(::write(fd, sabme.data(), sabme.size()), 3);
  sim().service();
  EXPECT_EQ(far.recv(), Bytes{}) << "an untied timeslot no longer reaches the far end";
  mcc.hang_up();
  sim().service();
  EXPECT_EQ(sim().far_end().find(ch2), nullptr) << "a far end that hangs up is untied";
}

}  // namespace
