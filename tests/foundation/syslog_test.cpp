#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "foundation/Mux.h"
#include "foundation/Syslog.h"
#include "tests/support/TempDir.h"
#include "tests/support/UtcTime.h"

namespace {

// A private root whose "/dev/log" is a socket this test reads.
class SyslogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(root_.empty());
    mkdir((root_ + "/dev").c_str(), 0755);
    setenv("VOXRELAY_ROOT", root_.c_str(), 1);
    Mux::test_clock_set(vxtest::utc_usec(2026, 3, 3, 9, 5, 7));
    manager_ = std::make_unique<SysLogManager>();
  }
  void TearDown() override {
    manager_.reset();
    if (server_ >= 0) close(server_);
    Mux::test_clock_clear();
    unsetenv("VOXRELAY_ROOT");
  }

  void listen_on_log(int type) {
    if (server_ >= 0) close(server_);
    std::string path = root_ + "/dev/log";
    unlink(path.c_str());
    server_ = socket(AF_UNIX, type, 0);
    ASSERT_GE(server_, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    ASSERT_EQ(bind(server_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    if (type == SOCK_STREAM) {
      ASSERT_EQ(listen(server_, 1), 0);
      // accept() must find its connection already made; a missing one fails, never hangs.
      fcntl(server_, F_SETFL, O_NONBLOCK);
    }
  }

  // One datagram, or "" when none waits.
  std::string receive(int fd = -1) {
    std::vector<char> buf(70000);
    ssize_t n = recv(fd < 0 ? server_ : fd, buf.data(), buf.size(), MSG_DONTWAIT);
    return n > 0 ? std::string(buf.data(), static_cast<size_t>(n)) : std::string();
  }

  vxtest::UtcTimeZone utc_;
  vxtest::TempDir tmp_{"vx_syslog"};
  const std::string root_ = tmp_.path();
  int server_ = -1;
  std::unique_ptr<SysLogManager> manager_;
};

const std::string kTime = "Mar  3 09:05:07 ";

std::string record(int priority, const std::string& rest) {
  return "<" + std::to_string(priority) + ">" + kTime + rest + std::string(1, '\0');
}

}  // namespace

TEST_F(SyslogTest, RecordFormat) {
  listen_on_log(SOCK_DGRAM);
  SysLogManager& m = *manager_;
  m.openlog(nullptr, LOG_NDELAY, 0);
  ASSERT_TRUE(m.connected());

  m.syslog(LOG_ERR, "hello %d", 5);
  EXPECT_EQ(receive(), "");  // queued until the batch is sent
  EXPECT_EQ(m.sendmsg(), static_cast<int>(record(11, "syslog-il: hello 5").size()));
  EXPECT_EQ(receive(), record(LOG_USER | LOG_ERR, "syslog-il: hello 5"));
  EXPECT_EQ(m.sendmsg(), 0);

  m.openlog("vxr-1.0", LOG_PID | LOG_NDELAY, LOG_DAEMON);
  m.syslog(LOG_ERR, "bare level");
  m.syslog(LOG_LOCAL0 | LOG_INFO, "own facility");
  m.sendmsg();
  const std::string pid = "[" + std::to_string(getpid()) + "]";
  EXPECT_EQ(receive(), record(LOG_DAEMON | LOG_ERR, "vxr-1.0" + pid + ": bare level") +
                           record(LOG_LOCAL0 | LOG_INFO, "vxr-1.0" + pid + ": own facility"));

  // A facility value with bits outside the facility field is not taken.
  m.openlog("", LOG_NDELAY, 0x7);
  m.syslog(LOG_WARNING, "no ident");
  m.sendmsg();
  EXPECT_EQ(receive(), record(LOG_DAEMON | LOG_WARNING, "no ident"));

  // A record is cut at 1023 characters.
  m.syslog(LOG_ERR, "%s", std::string(2000, 'x').c_str());
  m.sendmsg();
  std::string cut = receive();
  ASSERT_EQ(cut.size(), 1024u);
  EXPECT_EQ(cut.back(), '\0');
  EXPECT_EQ(cut[1022], 'x');

  m.closelog();
  EXPECT_FALSE(m.connected());
  m.syslog(LOG_ERR, "reopened");  // connects again by itself, with the default ident
  m.sendmsg();
  EXPECT_EQ(receive(), record(LOG_DAEMON | LOG_ERR, "syslog-il: reopened"));
}

TEST_F(SyslogTest, BatchesAreSentAt256RecordsOr12289Bytes) {
  listen_on_log(SOCK_DGRAM);
  SysLogManager& m = *manager_;
  m.openlog("b", LOG_NDELAY, LOG_DAEMON);

  std::string expected;
  for (int i = 0; i < 255; ++i) {
    m.syslog(LOG_INFO, "%d", i);
    expected += record(30, "b: " + std::to_string(i));
  }
  EXPECT_EQ(receive(), "");
  EXPECT_EQ(m.waiting(), 255u);
  m.syslog(LOG_INFO, "%d", 255);
  expected += record(30, "b: 255");
  EXPECT_EQ(receive(), expected);
  EXPECT_EQ(m.waiting(), 0u);

  // Records of 1024 bytes: twelve make 12288 bytes and wait, the thirteenth sends all.
  const std::string big(2000, 'z');
  for (int i = 0; i < 12; ++i) m.syslog(LOG_INFO, "%s", big.c_str());
  EXPECT_EQ(receive(), "");
  m.syslog(LOG_INFO, "%s", big.c_str());
  EXPECT_EQ(receive().size(), 13u * 1024u);
}

TEST_F(SyslogTest, StreamLinesOfOneFlushGoTogether) {
  listen_on_log(SOCK_DGRAM);
  syslogManager.openlog("vxr", LOG_NDELAY, LOG_DAEMON);
  {
    ManagedSysLogStreamBuf buf(LOG_DAEMON, LOG_ERR);
    std::ostream os(&buf);
    os << "a\nb" << std::endl;
    EXPECT_EQ(receive(), record(27, "vxr: a") + record(27, "vxr: b"));

    os << "100%s %d%%" << std::endl;  // the text is not a format
    EXPECT_EQ(receive(), record(27, "vxr: 100%s %d%%"));

    os << "no end" << std::flush;
    EXPECT_EQ(receive(), "");
    os << " yet\n\nlast" << std::flush;  // an empty line in between stays a record
    EXPECT_EQ(receive(), record(27, "vxr: no end yet") + record(27, "vxr: ") + record(27, "vxr: last"));

    // A full buffer without a line end goes out as one record.
    os << std::string(16382, 'y') << std::flush;
    EXPECT_EQ(receive(), "");
    os << "yy";
    std::string full = receive();
    EXPECT_EQ(full.substr(0, 27), record(27, "vxr: yyyy").substr(0, 27));
    EXPECT_EQ(full.size(), 1024u);
  }
  syslogManager.closelog();
}

// A log socket of the stream type is found by retrying with the other type; the records of
// one flush arrive as one write, each ended by its zero byte.
TEST_F(SyslogTest, StreamSocketFallback) {
  listen_on_log(SOCK_STREAM);
  SysLogManager& m = *manager_;
  m.openlog("s", LOG_NDELAY, LOG_DAEMON);
  ASSERT_TRUE(m.connected());
  int peer = accept(server_, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  m.syslog(LOG_ERR, "one");
  m.syslog(LOG_ERR, "two");
  EXPECT_GT(m.sendmsg(), 0);
  EXPECT_EQ(receive(peer), record(27, "s: one") + record(27, "s: two"));

  // The log daemon drops the connection: the next batch goes over a new one.
  close(peer);
  m.syslog(LOG_ERR, "three");
  EXPECT_GT(m.sendmsg(), 0);
  peer = accept(server_, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  EXPECT_EQ(receive(peer), record(27, "s: three"));
  close(peer);
}

// When the log daemon restarts (its socket replaced), the next batch reaches the new one.
TEST_F(SyslogTest, ReconnectsWhenTheLogSocketIsReplaced) {
  listen_on_log(SOCK_DGRAM);
  SysLogManager& m = *manager_;
  m.openlog("r", LOG_NDELAY, LOG_DAEMON);
  m.syslog(LOG_ERR, "first");
  m.sendmsg();
  EXPECT_EQ(receive(), record(27, "r: first"));

  listen_on_log(SOCK_DGRAM);
  m.syslog(LOG_ERR, "second");
  EXPECT_GT(m.sendmsg(), 0);
  EXPECT_EQ(receive(), record(27, "r: second"));
}

TEST_F(SyslogTest, WithoutLogSocketRecordsAreDroppedOrGoToTheConsole) {
  SysLogManager& m = *manager_;
  m.openlog("c", LOG_NDELAY, LOG_DAEMON);
  EXPECT_FALSE(m.connected());
  m.syslog(LOG_ERR, "dropped");
  EXPECT_EQ(m.waiting(), 0u);

  std::ofstream(root_ + "/dev/console").flush();
  m.openlog("c", LOG_NDELAY | LOG_CONS, LOG_DAEMON);
  m.syslog(LOG_ERR, "to console");
  std::ifstream in(root_ + "/dev/console");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "c: to console\r\n");
}
