// Modem slots: the modem control requests and the programs they start, the destruction
// protocol with its late answer, the fax end and the HDLC interface set-up and return.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "ModemFixture.h"
#include "hardware/HwMux.h"
#include "hardware/SwitchRoutes.h"

namespace {

using namespace modemtest;
using C = LGCP::Command;

std::vector<std::string> mctl_log() {
  std::vector<std::string> out;
  for (const auto& r : board::sim::SimBoard::instance().requests(board::sim::Device::mctl)) out.push_back(r.text());
  return out;
}

TEST_F(ModemTest, AnsweringDspModemAllocatesOnceAndStartsPppdOnItsTty) {
  send(create_modem(1, 5, {.dmp = {{3, 7}, {9, -2}}}));
  EXPECT_EQ(got(), Strings{"success"});
  auto* s = modem<DspModemSlot>(5);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(put(*s), "05:dsp-modem");
  sim().clear_requests();
  EXPECT_TRUE(s->IOnOutputStream());
  EXPECT_TRUE(s->IOnInputStream());  // the second stream finds the modem allocated
  EXPECT_EQ(got(), (Strings{"transmitter active 1024", "receiver active 1024"}));
  EXPECT_EQ(mctl_log(), (Strings{"MDM_ALLOCATE -> 0", "MDM_GET_TIMESLOT -> 1024", "MDM_RESET_PARAMS modem=0 unused=-1 -> 0",
                                 "MDM_SET_PARAM modem=0 offset=3 value=7 -> 0", "MDM_SET_PARAM modem=0 offset=9 value=-2 -> 0",
                                 "MDM_ANSWER modem=0 unused=-1 -> 0"}));
  ASSERT_EQ(launcher.started.size(), 1u);
  EXPECT_EQ(launcher.started[0], (Strings{"/usr/local/sbin/pppd", "file", "/usr/local/etc/ppp/aoptions", "/dev/mdm0",
                                          "remotenumber", "5551234"}));
  EXPECT_FALSE(launcher.preludes[0].sleeps || launcher.preludes[0].banner);  // nothing before execv
  EXPECT_EQ(s->pid, 4000);
  EXPECT_EQ(s->modem_id(), 0);
}

TEST_F(ModemTest, OriginatingModemWithDataModesAndNoCallingNumber) {
  // Two interfaces are free: the third such call gets a DSP modem.
  for (unsigned n : {6u, 7u, 8u}) send(create_modem(int(n), n, {.cid = "", .ddm = {0, 1, 3}, .originate = true}));
  got();
  auto* s = modem<DspModemSlot>(8);
  ASSERT_NE(s, nullptr);
  sim().clear_requests();
  s->IOnOutputStream();
  EXPECT_EQ(mctl_log()[2], "MDM_SET_DDM modem=0 flags=3 -> 0");  // V.120 sets no bit
  EXPECT_EQ(mctl_log().back(), "MDM_ORIGINATE modem=0 unused=-1 -> 0");
  EXPECT_EQ(launcher.started.back(), (Strings{"/usr/local/sbin/pppd", "file", "/usr/local/etc/ppp/coptions", "/dev/mdm0"}));
}

TEST_F(ModemTest, ExecArgumentsReplaceTheDefaultsAndAreCutToTheListSize) {
  std::vector<std::string> many;
  for (int i = 0; i < 70; ++i) many.push_back("a" + std::to_string(i));
  send(create_modem(1, 5, {.execfile = "/opt/ppp", .execargs = many}));
  send(create_modem(2, 6, {.fax = true, .execargs = many}));
  got();
  modem<DspModemSlot>(5)->IOnOutputStream();
  modem<DspModemSlot>(6)->IOnOutputStream();
  ASSERT_EQ(launcher.started.size(), 2u);
  const auto& ppp = launcher.started[0];
  ASSERT_EQ(ppp.size(), 63u);  // the program and 62 arguments
  EXPECT_EQ((Strings{ppp[0], ppp[1], ppp.back()}), (Strings{"/opt/ppp", "a0", "a61"}));
  const auto& fax = launcher.started[1];
  ASSERT_EQ(fax.size(), 63u);  // program, "-m", the modem, 60 arguments
  EXPECT_EQ((Strings{fax[0], fax[1], fax[2], fax[3]}), (Strings{"/usr/local/sbin/fax", "-m", "1", "a0"}));
  EXPECT_EQ(fax.back(), "a59");
  EXPECT_STREQ(launcher.preludes[1].banner, "executing fax transfer");
  EXPECT_TRUE(launcher.preludes[1].reportFailure);
  // The transfer runs without the modem control device held.
  EXPECT_FALSE(modem<DspModemSlot>(6)->device);
  EXPECT_TRUE(modem<DspModemSlot>(5)->device);
}

TEST_F(ModemTest, ACreateWhoseProgramTextsHoldANulIsRefused) {
  const std::string nul("12\0x", 4);
  const std::string refused = "error " + std::to_string(LGCP::ErrorCause::insufficientResources);
  send(create_modem(1, 5, {.cid = nul}));
  send(create_modem(2, 6, {.execfile = "/opt/ppp" + nul}));
  send(create_modem(3, 7, {.fax = true, .execargs = Strings{"ok", nul}}));
  EXPECT_EQ(got(), (Strings{refused, refused, refused}));
  EXPECT_TRUE(factory->modems.empty());
  for (const char* field : {"NUL byte in cid 12\\x00x", "NUL byte in execfile /opt/ppp12\\x00x", "NUL byte in execargs 12\\x00x"})
    EXPECT_NE(streams.err.str().find(field), std::string::npos) << field;
  send(create_modem(4, 5, {.cid = "12"}));
  EXPECT_EQ(got(), Strings{"success"});
}

TEST_F(ModemTest, StartFailuresAbortWithTheErrno) {
  send(create_modem(1, 5, {}));
  got();
  sim().fail_open(board::sim::Device::mctl, EACCES);
  modem<DspModemSlot>(5)->IOnOutputStream();
  sim().fail_open(board::sim::Device::mctl, 0);
  EXPECT_EQ(got(), Strings{"abort " + std::to_string(EACCES)});

  sim().modem().configure(0, 1024);
  modem<DspModemSlot>(5)->IOnOutputStream();
  EXPECT_EQ(got(), Strings{"abort " + std::to_string(ENOSPC)});
  EXPECT_EQ(sim().open_count(board::sim::Device::mctl), 0);  // closed on the failing path

  sim().modem().configure(2, 1024);
  send(create_modem(2, 6, {.dmp = {{1, 1}}}));
  got();
  auto* s = modem<DspModemSlot>(6);
  launcher.failWith = EAGAIN;
  s->IOnOutputStream();
  EXPECT_EQ(got(), (Strings{"transmitter active 1024", "receiver active 1024", "abort " + std::to_string(EAGAIN)}));
  EXPECT_EQ(s->pid, -1);
}

TEST_F(ModemTest, DestroyHangsUpThenKillsAfterFiveSecondsAndAnswersLate) {
  send(create_modem(1, 5, {}));
  got();
  auto* s = modem(5);
  s->IOnOutputStream();
  got();
  send(simple(9, 5, C::e_destroy));
  EXPECT_EQ(got(), Strings{});  // answered later
  EXPECT_EQ(launcher.signals, (std::vector<std::pair<int, int>>{{4000, SIGHUP}}));
  send(simple(10, 5, C::e_destroy));
  EXPECT_EQ(got(), Strings{"error " + std::to_string(LGCP::ErrorCause::destroyInProgress)});
  clock.advance(4999);
  pump_idle();
  EXPECT_NE(slots.Find(5), nullptr);
  clock.advance(1);
  pump_idle();
  EXPECT_EQ(slots.Find(5), nullptr);
  auto late = answers();
  ASSERT_EQ(late.size(), 1u);
  EXPECT_TRUE(late[0].success() && late[0].seq == 9);
  // Killed once: the destructor does not signal the pid again.
  EXPECT_EQ(launcher.signals, (std::vector<std::pair<int, int>>{{4000, SIGHUP}, {4000, SIGKILL}}));
  EXPECT_TRUE(factory->modems.empty());
}

TEST_F(ModemTest, AChildThatEndsDuringTheDestroyReleasesTheSlotAndIsNeverSignalledAgain) {
  send(create_modem(1, 5, {}));
  modem(5)->IOnOutputStream();
  got();
  send(simple(9, 5, C::e_destroy));
  modem(5)->on_terminate(0);
  auto late = answers();
  ASSERT_EQ(late.size(), 1u);
  EXPECT_EQ(late[0].seq, 9);
  EXPECT_EQ(slots.Find(5), nullptr);
  clock.advance(6000);
  pump_idle();
  EXPECT_EQ(launcher.signals, (std::vector<std::pair<int, int>>{{4000, SIGHUP}}));

  // Ended on its own: abort with the raw status; a destroy then goes at once.
  send(create_modem(2, 6, {}));
  modem(6)->IOnOutputStream();
  got();
  modem(6)->on_terminate(0x100);
  EXPECT_EQ(got(), Strings{"abort 256"});
  send(simple(3, 6, C::e_destroy));
  EXPECT_EQ(got(), Strings{"success"});
  EXPECT_EQ(launcher.signals.size(), 1u);
}

TEST_F(ModemTest, FaxTransferEndReportsPagesThenAborts) {
  send(create_modem(1, 5, {.fax = true, .execargs = Strings{"send", "/tmp/doc.g3"}}));
  modem(5)->IOnOutputStream();
  got();
  // The watch calls the fax handler now.
  modem(5)->childWait.handler->Invoke(modem(5)->childWait, 0x300);
  EXPECT_EQ(got(), (Strings{"acct 0:0 0:3 0:0 0:0 0:0", "abort 768"}));

  // Ended by a signal during a destroy: failed, and the slot goes.
  send(create_modem(2, 6, {.fax = true, .execargs = Strings{}}));
  modem(6)->IOnOutputStream();
  got();
  send(simple(3, 6, C::e_destroy));
  modem(6)->childWait.handler->Invoke(modem(6)->childWait, SIGKILL);
  auto a = answers();
  ASSERT_EQ(a.size(), 2u);
  EXPECT_EQ(modem_text(a[0]), "acct 0:0 0:0 0:0 0:0 0:0");
  EXPECT_TRUE(a[1].success() && a[1].seq == 3);
}

TEST_F(ModemTest, FaxCallsWithoutArgumentsOriginateOrRunTheReceiver) {
  send(create_modem(1, 5, {.originate = true, .fax = true}));
  send(create_modem(2, 6, {.fax = true}));
  got();
  modem(5)->IOnOutputStream();
  EXPECT_EQ(mctl_log().back(), "MDM_FAX_ORIGINATE modem=0 unused=-1 -> 0");
  EXPECT_TRUE(launcher.started.empty());
  modem(6)->IOnOutputStream();
  ASSERT_EQ(launcher.started.size(), 1u);
  const auto& r = launcher.started[0];
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ((Strings{r[0], r[1], r[2], r[3]}), (Strings{"/usr/local/bin/fax", "-m", "1", "receive"}));
  EXPECT_TRUE(r[4].starts_with("/var/fax-") && r[4].ends_with(".g3") && r[4].size() == 20) << r[4];
  EXPECT_EQ(launcher.preludes[0].pause, 1u);
  EXPECT_EQ(modem(6)->pid, -1);  // not watched
}

TEST_F(ModemTest, HdlcModemSwitchesItsInterfaceToPppAndBackToRawHdlc) {
  LGCP::Resources r;
  factory->Query(r);
  EXPECT_EQ(r.get_modem().getValue(), 4);
  EXPECT_EQ(r.get_digital_modems().getValue(), 2);
  send(create_modem(1, 5, {.ddm = {1}}));
  got();
  auto* s = modem<HdlcModemSlot>(5);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(put(*s), "05:digital-modem");
  EXPECT_EQ(s->ifname, "hdlc0");
  // The held interface is not offered again, however often the resources are asked for.
  factory->Query(r);
  EXPECT_EQ(r.get_digital_modems().getValue(), 1);
  send(create_modem(2, 6, {.ddm = {1}}));
  EXPECT_EQ(modem<HdlcModemSlot>(6)->ifname, "hdlc1");
  send(simple(3, 6, C::e_destroy));
  got();

  sim().netif().clear_log();
  s->IOnOutputStream();
  s->IOnInputStream();
  EXPECT_EQ(s->IGetTransmitChannel(), 200);
  EXPECT_EQ(launcher.started, (std::vector<Strings>{{"/usr/local/sbin/pppd", "file", "/usr/local/etc/ppp/ioptions", "hdlc0",
                                                     "remotenumber", "5551234"}}));
  EXPECT_EQ(sim().netif().find("hdlc0")->proto, board::IF_PROTO_PPP_);
  EXPECT_EQ(got(), Strings{});  // no stream signal, no abort
  send(simple(4, 5, C::e_destroy));
  s->on_terminate(0);
  EXPECT_EQ(got(), Strings{"success"});
  Strings log(sim().netif().log().begin(), sim().netif().log().end());
  ASSERT_EQ(log.size(), 5u);
  log.erase(log.begin() + 2);
  EXPECT_EQ(log, (Strings{"SIOCWANDEV hdlc0 type=0x1 size=128 -> 0", "SIOCWANDEV hdlc0 type=0x2001 size=4 data=0x0 -> 0",
                          "SIOCSIFFLAGS hdlc0 flags=0x10 -> 0", "SIOCWANDEV hdlc0 type=0x2000 size=4 data=0x0 -> 0"}));
  EXPECT_EQ(factory->freeInterfaces, (std::list<std::string>{"hdlc1", "hdlc0"}));
}

// A digital modem's interface keeps its channel: an output the channel fed keeps pppd's last
// frames for the release grace, and loses them as soon as the interface serves its next slot.
TEST_F(ModemTest, AnHdlcModemsOutputKeepsTheGraceUntilItsInterfaceServesAnotherSlot) {
  constexpr int kOut = HwMux::kFirstOutput + 7;
  // The slot's channel, fed onto kOut before the slot is destroyed.
  auto fed_then_destroyed = [&](unsigned n, uint32_t seq) {
    send(create_modem(seq, n, {.ddm = {1}}));
    got();
    auto* s = modem<HdlcModemSlot>(n);
    s->IOnOutputStream();
    const int channel = s->IGetTransmitChannel();
    HwMux::instance()->Connect(channel, kOut);
    SwitchRoutes::made(channel, kOut);
    send(simple(seq + 1, n, C::e_destroy));
    s->on_terminate(0);
    EXPECT_EQ(got(), Strings{"success"});
    return "from " + std::to_string(channel);
  };
  EXPECT_EQ(fed_then_destroyed(5, 1), "from 200");
  EXPECT_EQ(sw(kOut), "from 200");
  clock.advance(SwitchRoutes::kGraceMs);
  pump_idle();
  EXPECT_EQ(sw(kOut), "disabled");

  const std::string fed = fed_then_destroyed(5, 3);  // hdlc1, which goes back behind hdlc0
  EXPECT_EQ(sw(kOut), fed);
  send(create_modem(5, 6, {.ddm = {1}}));
  send(create_modem(6, 7, {.ddm = {1}}));
  got();
  EXPECT_EQ(sw(kOut), fed) << "no owner of the channel yet";
  auto* next = modem<HdlcModemSlot>(7);
  next->IOnOutputStream();
  EXPECT_EQ("from " + std::to_string(next->IGetTransmitChannel()), fed);
  EXPECT_EQ(sw(kOut), "disabled");
  EXPECT_EQ(SwitchRoutes::releasing(), 0u);
}

TEST_F(ModemTest, HdlcStartFailuresAreOnlyLogged) {
  send(create_modem(1, 5, {.ddm = {0}}));
  got();
  sim().netif().fail_next(board::SIOCWANDEV_, EPERM, 1);
  modem(5)->IOnOutputStream();
  sim().netif().fail_next(board::SIOCWANDEV_, EPERM, 1);
  sim().netif().fail_next(board::SIOCSIFFLAGS_, EPERM, 1);
  send(simple(2, 5, C::e_destroy));
  EXPECT_EQ(got(), Strings{"success"});
  EXPECT_TRUE(launcher.started.empty());
}

TEST_F(ModemTest, ALostControllerDeletesModemSlotsOutOfTheFactoryLists) {
  send(create_modem(1, 5, {}));
  send(create_modem(2, 6, {.ddm = {1}}));
  modem(5)->IOnOutputStream();
  got();
  slots.OnDisconnect();
  while (!slots.Pending().empty()) slots.int_destroy(slots.Pending().front());
  EXPECT_TRUE(factory->modems.empty() && factory->dspModems.empty() && factory->hdlcModems.empty());
  EXPECT_EQ(factory->freeInterfaces.size(), 2u);
  EXPECT_EQ(std::count(launcher.signals.begin(), launcher.signals.end(), std::pair<int, int>{4000, SIGKILL}), 1);
}

// The real launcher: a program that cannot be executed ends its child with status 2 and
// without running the parent's exit handlers.
int exitHandlerMarker = -1;
void mark_exit() {
  if (exitHandlerMarker >= 0) (void)!::write(exitHandlerMarker, "x", 1);
}

TEST(ChildLauncherTest, AFailedExecEndsTheChildWithItsFailureStatusAndNoExitHandlers) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  exitHandlerMarker = p[1];
  std::atexit(mark_exit);
  ChildLauncher real;
  const int pid = real.Start({"/nonexistent/program"}, {});
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  const int other = real.Start({"/nonexistent/program"}, {.failure = 7});
  ASSERT_EQ(::waitpid(other, &status, 0), other);
  EXPECT_EQ(WEXITSTATUS(status), 7);
  ::close(p[1]);
  exitHandlerMarker = -1;
  char c;
  EXPECT_EQ(::read(p[0], &c, 1), 0);  // nobody wrote the marker
  ::close(p[0]);
}

// A hang-up sent before the child has reached execv acts on the child as it would on the
// program: it is not taken by the daemon's own handler (inherited across fork) and lost.
volatile sig_atomic_t hupsSeen = 0;
void count_hup(int) { hupsSeen = hupsSeen + 1; }

TEST(ChildLauncherTest, AHangUpBeforeExecEndsTheChild) {
  struct sigaction sa {}, saved {};
  sa.sa_handler = count_hup;
  ASSERT_EQ(::sigaction(SIGHUP, &sa, &saved), 0);
  ChildLauncher real;
  // The child sleeps before execv: the hang-up comes within that window.
  const int pid = real.Start({"/nonexistent/program"}, {.sleeps = true, .pause = 5});
  ASSERT_GT(pid, 0);
  ASSERT_EQ(real.Kill(pid, SIGHUP), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGHUP) << status;
  EXPECT_EQ(hupsSeen, 0);
  ::sigaction(SIGHUP, &saved, nullptr);
}

// When the launcher returns, the child holds only what its program will keep: a descriptor
// the daemon closes from then on is released at once, even while the child still pauses
// before its exec (a driver frees a session or channel only at the last close). The daemon
// waited for that, without a warning; a descriptor above the process's (lowered) limit is
// dropped too, the child's whole table being swept.
TEST(ChildLauncherTest, TheChildHoldsOnlyWhatItsProgramKeeps) {
  auto pair = [](int flags, int (&sv)[2]) { ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | flags, 0, sv), 0); };
  auto hungUp = [](int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
  };
  int dropped[2], high[2], kept[2], input[2];
  pair(SOCK_CLOEXEC, dropped);
  pair(SOCK_CLOEXEC, high);
  pair(0, kept);
  pair(SOCK_CLOEXEC, input);
  ASSERT_EQ(::dup3(high[0], 700, O_CLOEXEC), 700);
  ::close(high[0]);
  high[0] = 700;
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit lowered = saved;
  lowered.rlim_cur = 256;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
  std::ostringstream warnings;
  std::streambuf* cerr = std::cerr.rdbuf(warnings.rdbuf());
  ChildLauncher real;
  const int pid = real.Start({"/nonexistent/program"}, {.sleeps = true, .pause = 30, .input = input[0]});
  std::cerr.rdbuf(cerr);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(warnings.str(), "");
  for (int fd : {dropped[0], high[0], kept[0], input[0]}) ::close(fd);
  EXPECT_TRUE(hungUp(dropped[1]));
  EXPECT_TRUE(hungUp(high[1]));
  EXPECT_FALSE(hungUp(kept[1]));   // not close-on-exec: the program has it
  EXPECT_FALSE(hungUp(input[1]));  // the child's standard input
  ASSERT_EQ(real.Kill(pid, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(hungUp(kept[1]));
  EXPECT_TRUE(hungUp(input[1]));
  for (int fd : {dropped[1], high[1], kept[1], input[1]}) ::close(fd);
}

// A daemon started without standard input and output: the launcher's own pipe takes those
// numbers, and the child's output must not be lost to it.
TEST(ChildLauncherTest, WithoutStandardDescriptorsTheChildKeepsItsOutput) {
  int out[2];
  ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
  const int savedIn = ::fcntl(0, F_DUPFD_CLOEXEC, 3), savedOut = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
  ::close(0);
  ::close(1);
  ChildLauncher real;
  const int pid = real.Start({"/nonexistent/program"}, {.banner = "executing", .reportFailure = true, .output = out[1]});
  ::dup2(savedIn, 0);
  ::dup2(savedOut, 1);
  for (int fd : {savedIn, savedOut, out[1]}) ::close(fd);
  ASSERT_GT(pid, 0);
  std::string text;
  char buffer[64];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  ::close(out[0]);
  ::waitpid(pid, nullptr, 0);
  EXPECT_EQ(text, "executing\nfail to exec!\n");
}

}  // namespace
