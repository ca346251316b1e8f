// What the daemon does with the system: child processes, signals, its pid file, the syslog
// client, the hourly log files and the interface addresses.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <strings.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <list>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/ChildWait.h"
#include "foundation/HourlyLog.h"
#include "foundation/INet4.h"
#include "foundation/Multiplexer.h"
#include "foundation/Mux.h"
#include "foundation/Paths.h"
#include "foundation/Run.h"
#include "foundation/Signal.h"
#include "foundation/Syslog.h"
#include "tests/support/CaptureStreams.h"
#include "tests/support/TempDir.h"
#include "tests/support/UtcTime.h"

namespace {

using vxtest::slurp;
using vxtest::utc_usec;

struct Owner {
  std::vector<int> statuses;
  void ended(int status) { statuses.push_back(status); }
};
struct DerivedOwner : Owner {};  // owners often inherit the member they bind

// Loop passes until pred holds; a pass waits for the child's end, at most 1 s.
template <class Pred>
bool run_until(Pred pred) {
  for (int i = 0; i < 50 && !pred(); ++i) multiplexer.run_once(1000);
  return pred();
}

pid_t spawn_exit(int code) {
  pid_t p = fork();
  if (p == 0) _exit(code);
  return p;
}

// A child that waits until *write_end closes; it has taken `name` once this returns.
pid_t spawn_waiting(int* write_end, const char* name = nullptr) {
  int hold[2], ready[2];
  if (pipe(hold) != 0 || pipe(ready) != 0) return -1;
  pid_t pid = fork();
  char c = 1;
  if (pid == 0) {
    if (name) prctl(PR_SET_NAME, name, 0, 0, 0);
    close(hold[1]);
    (void)!write(ready[1], &c, 1);
    (void)!read(hold[0], &c, 1);
    _exit(0);
  }
  close(hold[0]), close(ready[1]);
  (void)!read(ready[0], &c, 1);
  close(ready[0]);
  *write_end = hold[1];
  return pid;
}

class ChildWaitTest : public ::testing::Test {
 protected:
  void SetUp() override { ChildWait::Activate(); }
  void TearDown() override {  // the loop and SIGCHLD as other tests expect them
    IPC::Signal::system(SIGCHLD);
    ChildWaitService::childWaitService->Release();
    ChildWaitService::childWaitService->writeEnd.close();
  }
  vxtest::CaptureStreams streams_;
  std::ostringstream& log_ = streams_.log;
};

TEST_F(ChildWaitTest, EachEndReachesItsOwnHandlerOnceFromTheLoop) {
  Owner first, gone_owner;
  DerivedOwner second;
  ChildWait w1, w2;
  w1.Bind(&first, &Owner::ended), w2.Bind(&second, &Owner::ended);
  int hold;
  pid_t killed = spawn_waiting(&hold), exited = spawn_exit(3), other = spawn_exit(0);
  {
    ChildWait temporary;  // destroyed: never called
    temporary.Bind(&gone_owner, &Owner::ended);
    temporary.Attach(other);
  }
  w1.Attach(exited);
  w1.Attach(exited);  // attaching again keeps one entry
  w2.Attach(killed);
  kill(killed, SIGKILL);
  close(hold);

  // Nothing is reported outside the loop, even once the children are gone.
  siginfo_t info;
  for (pid_t p : {exited, killed, other}) waitid(P_PID, p, &info, WEXITED | WNOWAIT);
  EXPECT_TRUE(first.statuses.empty() && second.statuses.empty());
  ASSERT_TRUE(run_until([&] {
    return first.statuses.size() + second.statuses.size() == 2 &&
           log_.str().find("pid=" + std::to_string(other) + " ") != std::string::npos;
  }));
  multiplexer.run_once(0);  // later passes report nothing again
  EXPECT_EQ(first.statuses, std::vector<int>{3 << 8});  // exit code 3
  EXPECT_EQ(second.statuses, std::vector<int>{SIGKILL});
  EXPECT_TRUE(gone_owner.statuses.empty());
  EXPECT_FALSE(w1.attached() || w2.attached());
  EXPECT_EQ(ChildWaitService::childWaitService->waits.count(), 0u);
  EXPECT_NE(log_.str().find("terminate child process, pid=" + std::to_string(killed) + " status=9\n"),
            std::string::npos);
}

// The handler keeps errno and never blocks, however many signals arrive before the loop runs.
TEST_F(ChildWaitTest, SignalHandlerKeepsErrnoAndNeverBlocks) {
  errno = EDOM;
  for (int i = 0; i < 5000; ++i) ChildWaitService::SigChldHandlerWrapper(SIGCHLD);
  EXPECT_EQ(errno, EDOM);
  multiplexer.run_once(0);  // the queued wake-ups are drained in one pass
  char c;
  EXPECT_LT(recv(ChildWaitService::childWaitService->fd(), &c, 1, MSG_DONTWAIT), 0);
}

// The name holds this run's pid, so that copies of the suite run side by side never find each
// other's child.
TEST(FindProcByName, MatchesTheWholeCommandName) {
  const std::string odd = "a) b(" + std::to_string(getpid() % 10000000);
  int hold;
  pid_t child = spawn_waiting(&hold, odd.c_str());
  ASSERT_GT(child, 0);
  EXPECT_EQ(find_proc_by_name(odd.c_str(), child), child);
  EXPECT_EQ(find_proc_by_name(odd.c_str(), 0), child);
  EXPECT_EQ(find_proc_by_name(odd.c_str(), getpid()), child);
  EXPECT_EQ(find_proc_by_name(odd.substr(0, 5).c_str(), child), -1);
  EXPECT_EQ(find_proc_by_name((odd + ")").c_str(), 0), -1);
  close(hold);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(find_proc_by_name(odd.c_str(), child), -1);

  using Linux::stat_command_is;
  EXPECT_TRUE(stat_command_is("12 (a) b) S 1", 13, "a) b"));
  EXPECT_FALSE(stat_command_is("12 (abc", 7, "abc"));
  EXPECT_FALSE(stat_command_is("12 (abc) S", 7, "abc"));  // only the bytes given are read
}

TEST(Run, PidFileIsReplacedAndRemoved) {
  vxtest::TempDir tmp("vx_run");
  setenv("VOXRELAY_ROOT", tmp.path().c_str(), 1);
  std::filesystem::create_directories(tmp.path() + "/var/run");
  const std::string path = tmp.path() + "/var/run/server.pid";
  std::ofstream(path) << "99999999999999999999\n";
  {
    Linux::Run run("server");
    EXPECT_EQ(run.path(), path);
    EXPECT_EQ(slurp(path), std::to_string(getpid()));
  }
  EXPECT_NE(access(path.c_str(), F_OK), 0);
  Linux::Run("other/name");  // no directory for the file: nothing is created and nothing fails
  unsetenv("VOXRELAY_ROOT");
  EXPECT_EQ(Paths::rooted("/var/run/server.pid"), "/var/run/server.pid");
}

volatile sig_atomic_t g_plain = 0;
volatile sig_atomic_t g_info_code = 0;
void plain_handler(int) { g_plain = 1; }
void info_handler(int, siginfo_t* info, void*) { g_info_code = info->si_code; }

TEST(Signal, InstallsHandlers) {
  using IPC::Signal;
  EXPECT_NE(Signal::handle(1000, plain_handler, 0), 0);
  struct sigaction sa;
  auto flags = [&] {
    sigaction(SIGUSR1, nullptr, &sa);
    return sa.sa_flags & (SA_SIGINFO | SA_RESTART);
  };
  ASSERT_EQ(Signal::handle(SIGUSR1, plain_handler, Signal::Set(SIGUSR2, SIGHUP), 0), 0);
  EXPECT_EQ(flags(), 0);
  EXPECT_TRUE(sigismember(&sa.sa_mask, SIGUSR2) && sigismember(&sa.sa_mask, SIGHUP));
  raise(SIGUSR1);
  EXPECT_EQ(g_plain, 1);
  ASSERT_EQ(Signal::handle(SIGUSR1, info_handler, SA_RESTART), 0);
  EXPECT_EQ(flags(), SA_SIGINFO | SA_RESTART);
  raise(SIGUSR1);
  EXPECT_EQ(g_info_code, SI_TKILL);
  Signal::system(SIGUSR1);
}

// A private root whose "/dev/log" is a socket this test reads.
class SyslogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mkdir((root_ + "/dev").c_str(), 0755);
    setenv("VOXRELAY_ROOT", root_.c_str(), 1);
    Mux::test_clock_set(utc_usec(2026, 3, 3, 9, 5, 7));
  }
  void TearDown() override {
    m.closelog();
    if (server_ >= 0) close(server_);
    Mux::test_clock_clear();
    unsetenv("VOXRELAY_ROOT");
  }
  // A fresh log socket, as when the log daemon (re)starts.
  void listen_on_log(int type) {
    if (server_ >= 0) close(server_);
    std::string path = root_ + "/dev/log";
    unlink(path.c_str());
    server_ = socket(AF_UNIX, type, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    ASSERT_EQ(bind(server_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    if (type == SOCK_STREAM) {
      ASSERT_EQ(listen(server_, 1), 0);
      fcntl(server_, F_SETFL, O_NONBLOCK);  // a missing connection fails accept(), never hangs
    }
  }
  // One datagram, or "" when none waits.
  std::string receive(int fd = -1) {
    std::vector<char> buf(70000);
    ssize_t n = recv(fd < 0 ? server_ : fd, buf.data(), buf.size(), MSG_DONTWAIT);
    return n > 0 ? std::string(buf.data(), static_cast<size_t>(n)) : std::string();
  }
  std::string file(const std::string& name) { return slurp(root_ + "/" + name); }

  vxtest::UtcTimeZone utc_;
  vxtest::TempDir tmp_{"vx_syslog"};
  const std::string root_ = tmp_.path();
  int server_ = -1;
  SysLogManager m;
};

std::string record(int priority, const std::string& rest) {
  return "<" + std::to_string(priority) + ">Mar  3 09:05:07 " + rest + std::string(1, '\0');
}

TEST_F(SyslogTest, RecordFormat) {
  listen_on_log(SOCK_DGRAM);
  m.openlog(nullptr, LOG_NDELAY, 0);
  ASSERT_TRUE(m.connected());
  m.syslog(LOG_ERR, "hello %d", 5);
  EXPECT_EQ(receive(), "");  // queued until the batch is sent
  EXPECT_EQ(m.sendmsg(), static_cast<int>(record(11, "syslog-il: hello 5").size()));
  EXPECT_EQ(receive(), record(LOG_USER | LOG_ERR, "syslog-il: hello 5"));

  m.openlog("vxr-1.0", LOG_NDELAY, LOG_DAEMON);
  m.syslog(LOG_ERR, "bare level");
  m.syslog(LOG_LOCAL0 | LOG_INFO, "own facility");
  m.sendmsg();
  EXPECT_EQ(receive(), record(LOG_DAEMON | LOG_ERR, "vxr-1.0: bare level") +
                           record(LOG_LOCAL0 | LOG_INFO, "vxr-1.0: own facility"));
  // A facility value with bits outside the facility field is not taken.
  m.openlog("", LOG_NDELAY, 0x7);
  m.syslog(LOG_WARNING, "no ident");
  m.sendmsg();
  EXPECT_EQ(receive(), record(LOG_DAEMON | LOG_WARNING, "no ident"));

  m.closelog();
  EXPECT_FALSE(m.connected());
  m.syslog(LOG_ERR, "reopened"), m.sendmsg();  // connects again by itself, with the default ident
  EXPECT_EQ(receive(), record(LOG_DAEMON | LOG_ERR, "syslog-il: reopened"));
}

TEST_F(SyslogTest, BatchesAreSentAt256RecordsOr12289Bytes) {
  listen_on_log(SOCK_DGRAM);
  m.openlog("b", LOG_NDELAY, LOG_DAEMON);
  std::string expected;
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(receive(), "");
    m.syslog(LOG_INFO, "%d", i);
    expected += record(30, "b: " + std::to_string(i));
  }
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

// A stream log socket is found by retrying with the other type; a log daemon that restarts (its
// connection dropped or its socket replaced) gets the next batch on a new connection.
TEST_F(SyslogTest, StreamSocketFallbackAndReconnection) {
  listen_on_log(SOCK_STREAM);
  m.openlog("s", LOG_NDELAY, LOG_DAEMON);
  ASSERT_TRUE(m.connected());
  int peer = accept(server_, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  m.syslog(LOG_ERR, "one");
  m.syslog(LOG_ERR, "two");
  EXPECT_GT(m.sendmsg(), 0);
  EXPECT_EQ(receive(peer), record(27, "s: one") + record(27, "s: two"));
  close(peer);
  m.syslog(LOG_ERR, "three");
  EXPECT_GT(m.sendmsg(), 0);
  peer = accept(server_, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  EXPECT_EQ(receive(peer), record(27, "s: three"));
  close(peer);

  m.closelog();
  listen_on_log(SOCK_DGRAM);
  m.openlog("r", LOG_NDELAY, LOG_DAEMON);
  m.syslog(LOG_ERR, "first");
  m.sendmsg();
  EXPECT_EQ(receive(), record(27, "r: first"));
  listen_on_log(SOCK_DGRAM);
  m.syslog(LOG_ERR, "second");
  EXPECT_GT(m.sendmsg(), 0);
  EXPECT_EQ(receive(), record(27, "r: second"));
}

TEST_F(SyslogTest, WithoutLogSocketRecordsAreDropped) {
  m.openlog("c", LOG_NDELAY, LOG_DAEMON);
  EXPECT_FALSE(m.connected());
  m.syslog(LOG_ERR, "dropped");
  EXPECT_EQ(m.waiting(), 0u);
}

using HourlyLog = SyslogTest;

TEST_F(HourlyLog, LinesArePrefixedOnceAndFilesFollowTheHourAndDay) {
  Mux::test_clock_set(utc_usec(2026, 3, 3, 10, 59, 58, 4567));
  LogFileStreamBuf buf(root_);
  std::ostream os(&buf);
  EXPECT_EQ(buf.path(), root_ + "/2026_03_03-10.log");
  os << "ab\ncd" << std::flush;
  EXPECT_EQ(file("2026_03_03-10.log"), "59:58:04567: ab\n59:58:04567: cd");
  Mux::test_clock_advance_ms(1000);
  os << "ef\n" << std::flush;  // continues the open line: no new prefix
  // A line longer than the put area keeps the prefix taken when its first bytes went out.
  Mux::test_clock_set(utc_usec(2026, 3, 3, 10, 59, 59, 123456));
  os << "0123456789abcdefghijklmnopqrstuvwxyz" << std::endl;
  EXPECT_EQ(file("2026_03_03-10.log"),
            "59:58:04567: ab\n59:58:04567: cdef\n59:59:123456: 0123456789abcdefghijklmnopqrstuvwxyz\n");
  Mux::test_clock_advance_ms(1000);
  os << "next hour" << std::endl;
  EXPECT_EQ(buf.path(), root_ + "/2026_03_03-11.log");
  Mux::test_clock_set(utc_usec(2026, 3, 4, 11, 5, 0, 0));  // same hour of another day
  os << "next day" << std::endl;
  EXPECT_EQ(file("2026_03_03-11.log"), "00:00:123456: next hour\n");
  EXPECT_EQ(file("2026_03_04-11.log"), "05:00:00000: next day\n");
  // The file follows the time of day when it is set, not the loop's clock.
  Mux::test_clock_step_time_of_day(-3LL * 3600 * 1'000'000);
  os << "clock set back" << std::endl;
  EXPECT_EQ(file("2026_03_04-08.log"), "05:00:00000: clock set back\n");
}

// A restart within the hour keeps the earlier lines; a missing directory loses lines quietly.
TEST_F(HourlyLog, RestartAndUnusableDirectories) {
  Mux::test_clock_set(utc_usec(2026, 3, 3, 14, 5, 0, 0));
  for (const char* line : {"before restart", "after restart"}) {
    LogFileStreamBuf buf(root_);
    std::ostream(&buf) << line << std::endl;
    Mux::test_clock_advance_ms(60000);
  }
  EXPECT_EQ(file("2026_03_03-14.log"), "05:00:00000: before restart\n06:00:00000: after restart\n");

  LogFileStreamBuf buf(root_ + "/missing");
  std::ostream os(&buf);
  os << "lost" << std::endl;
  EXPECT_TRUE(os.good());
  struct stat st;
  EXPECT_NE(stat((root_ + "/missing").c_str(), &st), 0);
}

TEST(INet4Addr, TextForms) {
  INet4::Addr a;
  int port = 0;
  EXPECT_TRUE(a.Assign("10.0.0.1:5000", &port));
  EXPECT_EQ(a.GetVector(), (std::vector<unsigned char>{10, 0, 0, 1}));
  a.Reset();
  EXPECT_EQ(a.GetString(), "0.0.0.0:0");
  a.Assign(htonl(0xC0A80001u));
  std::ostringstream os;
  a.Put(os);
  EXPECT_EQ(os.str(), "192.168.0.1:0");

  // Each from "1.1.1.1:7": what it shows after, and the port given back (-1: none). Without a
  // colon the stored port stays; a host name is no address, but its port is stored all the same.
  const struct {
    const char* text;
    bool ok;
    const char* shown;
    int port;
  } cases[] = {{"10.0.0.1:5000", true, "10.0.0.1:5000", 5000},  {"192.168.1.2", true, "192.168.1.2:7", -1},
               {"gateway:80", false, "1.1.1.1:80", 80},          {"10.0.0.1:", true, "10.0.0.1:0", 0},
               {"10.0.0.1: +80 ", true, "10.0.0.1:80", 80},      {"10.0.0.1:1:2", false, "1.1.1.1:7", -1},
               {"10.0.0.1:65535", true, "10.0.0.1:65535", 65535},
               {"0x7f000001", true, "127.0.0.1:7", -1},  // inet_aton's short form
               {"10.0.0.1:65536", false, "1.1.1.1:7", -1},       {"10.0.0.1:-1", false, "1.1.1.1:7", -1},
               {"10.0.0.1:80x", false, "1.1.1.1:7", -1},         {"10.0.0.1:8 0", false, "1.1.1.1:7", -1},
               {"10.0.0.1:99999999999999999999", false, "1.1.1.1:7", -1}};
  for (const auto& c : cases) {
    INet4::Addr b;
    b.Assign("1.1.1.1:7", nullptr);
    EXPECT_EQ(b.Assign(c.text, &port), c.ok) << c.text;
    EXPECT_EQ(b.GetString(), c.shown) << c.text;
    EXPECT_EQ(port, c.port) << c.text;
  }

  // Only a text that is an address from its first character to its last is one: inet_aton
  // would stop at a blank, and a NUL would end the text it sees.
  const std::string nul("10.0.0.5\0" "9", 10);
  for (const std::string& text : {std::string("10.0.0.5 junk"), nul}) {
    uint32_t address = 7;
    EXPECT_FALSE(INet4::ParseAddress(text, address) || address != 7) << text;
    EXPECT_FALSE(a.Assign(text + ":80", &port)) << text;
  }
  EXPECT_EQ(port, -1) << "a NUL fails the whole text";

  INet4::Addr x, y, z;
  x.Assign("10.1.1.1:5", nullptr), y.Assign("10.1.1.1:5", nullptr), z.Assign("10.1.1.1:6", nullptr);
  EXPECT_FALSE(x.IsEqual(z));
  y.sin_family = AF_UNSPEC;  // not compared
  EXPECT_TRUE(x.IsEqual(y));
}

// The same selection, taken from getifaddrs as an independent listing.
std::vector<std::string> expected(Net::ifconfig_mode_t mode) {
  std::vector<std::string> out;
  ifaddrs* all = nullptr;
  if (getifaddrs(&all) != 0) return out;
  for (ifaddrs* i = all; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
    const in_addr& in = reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr;
    uint32_t a = ntohl(in.s_addr);
    bool not_lo = strcasecmp(i->ifa_name, "lo") != 0, link_local = (a >> 16) == 0xA9FE;
    bool priv = (a >> 16) == 0xC0A8 || (a >> 20) == 0xAC1 || (a >> 24) == 10;
    if (mode == 0 || ((mode & 1) && not_lo) || ((mode & 2) && link_local) || ((mode & 4) && priv))
      out.push_back(std::string(inet_ntoa(in)) + ":0");
  }
  freeifaddrs(all);
  std::sort(out.begin(), out.end());
  return out;
}

TEST(Net, InterfaceAddressesMatchAnIndependentListing) {
  if (expected(0).size() > 16) GTEST_SKIP() << "more interfaces than one listing holds";
  for (Net::ifconfig_mode_t mode : {0u, 1u, 2u, 4u, 6u, 7u}) {
    std::list<INet4::Addr> got(1);  // appended to, not replaced
    int n = Net::ifconfig(got, mode);
    EXPECT_EQ(got.size(), static_cast<size_t>(n) + 1);
    got.pop_front();
    std::vector<std::string> texts;
    for (auto& a : got) texts.push_back(a.GetString());
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, expected(mode)) << "mode " << mode;
  }
}

}  // namespace
