#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/ChildWait.h"
#include "foundation/Multiplexer.h"
#include "foundation/Run.h"
#include "foundation/Signal.h"
#include "tests/support/CaptureStreams.h"
#include "tests/support/TempDir.h"

namespace {

struct Owner {
  std::vector<int> statuses;
  void ended(int status) { statuses.push_back(status); }
};
// Owners often inherit the member they bind.
struct DerivedOwner : Owner {};

// Runs loop passes until pred holds (each pass waits at most 1 s for a descriptor).
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

// A child that waits until its pipe closes; optionally renames itself first.
pid_t spawn_waiting(int* write_end, const char* name = nullptr) {
  int p[2];
  if (pipe(p) != 0) return -1;
  int ready[2];
  if (pipe(ready) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    close(p[1]);
    close(ready[0]);
    if (name) prctl(PR_SET_NAME, name, 0, 0, 0);
    char c = 1;
    (void)!write(ready[1], &c, 1);
    (void)!read(p[0], &c, 1);
    _exit(0);
  }
  close(p[0]);
  close(ready[1]);
  char c;
  (void)!read(ready[0], &c, 1);  // the name is set once this arrives
  close(ready[0]);
  *write_end = p[1];
  return pid;
}

class ChildWaitTest : public ::testing::Test {
 protected:
  void SetUp() override { ChildWait::Activate(); }
  // Leaves the loop and SIGCHLD as other tests expect them.
  void TearDown() override {
    IPC::Signal::system(SIGCHLD);
    ChildWaitService::childWaitService->Release();
    ChildWaitService::childWaitService->writeEnd.close();
  }
  vxtest::CaptureStreams streams_;
  std::ostringstream& log_ = streams_.log;
};

}  // namespace

TEST_F(ChildWaitTest, EachEndReachesItsOwnHandlerOnceFromTheLoop) {
  Owner first;
  DerivedOwner second;
  ChildWait w1, w2;
  w1.Bind(&first, &Owner::ended);
  w2.Bind(&second, &Owner::ended);

  int hold;
  pid_t killed = spawn_waiting(&hold);
  pid_t exited = spawn_exit(3);
  w1.Attach(exited);
  w2.Attach(killed);
  kill(killed, SIGKILL);
  close(hold);

  // Nothing is reported outside the loop, even once both children are gone.
  siginfo_t info;
  waitid(P_PID, exited, &info, WEXITED | WNOWAIT);
  waitid(P_PID, killed, &info, WEXITED | WNOWAIT);
  EXPECT_TRUE(first.statuses.empty());
  EXPECT_TRUE(second.statuses.empty());

  ASSERT_TRUE(run_until([&] { return first.statuses.size() + second.statuses.size() == 2; }));
  ASSERT_EQ(first.statuses.size(), 1u);
  ASSERT_EQ(second.statuses.size(), 1u);
  EXPECT_TRUE(WIFEXITED(first.statuses[0]));
  EXPECT_EQ(WEXITSTATUS(first.statuses[0]), 3);
  EXPECT_TRUE(WIFSIGNALED(second.statuses[0]));
  EXPECT_EQ(WTERMSIG(second.statuses[0]), SIGKILL);
  EXPECT_FALSE(w1.attached());
  EXPECT_FALSE(w2.attached());
  EXPECT_NE(log_.str().find("terminate child process, pid=" + std::to_string(exited) + " status=768\n"),
            std::string::npos);
  EXPECT_NE(log_.str().find("terminate child process, pid=" + std::to_string(killed) + " status=9\n"),
            std::string::npos);

  // Later passes report nothing again.
  multiplexer.run_once(0);
  EXPECT_EQ(first.statuses.size(), 1u);
  EXPECT_EQ(second.statuses.size(), 1u);
}

TEST_F(ChildWaitTest, DetachedOrDestroyedWatchesAreNotCalled) {
  Owner owner;
  ChildWait kept;
  kept.Bind(&owner, &Owner::ended);
  pid_t other = spawn_exit(0);
  {
    Owner gone;
    ChildWait temporary;
    temporary.Bind(&gone, &Owner::ended);
    temporary.Attach(other);
    EXPECT_TRUE(temporary.attached());
  }
  pid_t mine = spawn_exit(1);
  kept.Attach(mine);
  kept.Attach(mine);  // attaching again keeps one entry
  ASSERT_TRUE(run_until([&] { return !owner.statuses.empty(); }));
  ASSERT_TRUE(run_until([&] { return log_.str().find("pid=" + std::to_string(other) + " ") != std::string::npos; }));
  EXPECT_EQ(owner.statuses.size(), 1u);
  EXPECT_EQ(ChildWaitService::childWaitService->waits.count(), 0u);
}

// The handler keeps errno and never blocks, however many signals arrive before the loop runs.
TEST_F(ChildWaitTest, SignalHandlerKeepsErrnoAndNeverBlocks) {
  errno = EDOM;
  for (int i = 0; i < 5000; ++i) ChildWaitService::SigChldHandlerWrapper(SIGCHLD);
  EXPECT_EQ(errno, EDOM);
  // The queued wake-ups are drained in one pass without any child to reap.
  multiplexer.run_once(0);
  char c;
  EXPECT_LT(recv(ChildWaitService::childWaitService->fd(), &c, 1, MSG_DONTWAIT), 0);
}

TEST(FindProcByName, MatchesTheWholeCommandName) {
  int hold;
  const char* odd = "vx a) b(c";
  pid_t child = spawn_waiting(&hold, odd);
  ASSERT_GT(child, 0);
  EXPECT_EQ(find_proc_by_name(odd, child), child);
  EXPECT_EQ(find_proc_by_name(odd, 0), child);
  EXPECT_EQ(find_proc_by_name(odd, getpid()), child);
  EXPECT_EQ(find_proc_by_name("vx a", child), -1);
  EXPECT_EQ(find_proc_by_name("vx a) b(c)", 0), -1);
  close(hold);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(find_proc_by_name(odd, child), -1);
}

TEST(FindProcByName, MalformedStatTextNeverMatches) {
  using Linux::stat_command_is;
  EXPECT_TRUE(stat_command_is("12 (a) b) S 1", 13, "a) b"));
  EXPECT_TRUE(stat_command_is("12 () S", 7, ""));
  EXPECT_FALSE(stat_command_is("", 0, ""));
  EXPECT_FALSE(stat_command_is("12 (abc", 7, "abc"));
  EXPECT_FALSE(stat_command_is("12 abc) S", 9, "abc"));
  EXPECT_FALSE(stat_command_is("12 )abc( S", 10, "abc"));
  // Only the bytes given are read: the text is cut before its ")".
  EXPECT_FALSE(stat_command_is("12 (abc) S", 7, "abc"));
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
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, std::to_string(getpid()));
  }
  EXPECT_NE(access(path.c_str(), F_OK), 0);
  {
    // No directory for the file: nothing is created and nothing fails.
    Linux::Run run("other/name");
  }
  unsetenv("VOXRELAY_ROOT");
}

namespace {
volatile sig_atomic_t g_plain = 0;
volatile sig_atomic_t g_info_code = 0;
void plain_handler(int) { g_plain = 1; }
void info_handler(int, siginfo_t* info, void*) { g_info_code = info->si_code; }
}  // namespace

TEST(Signal, InstallsHandlers) {
  using IPC::Signal;
  EXPECT_TRUE(Signal::Set::is_signal(SIGUSR1));
  EXPECT_FALSE(Signal::Set::is_signal(0));
  EXPECT_FALSE(Signal::Set::is_signal(100000));

  ASSERT_EQ(Signal::handle(SIGUSR1, plain_handler, Signal::Set(SIGUSR2, SIGHUP), 0), 0);
  struct sigaction sa;
  sigaction(SIGUSR1, nullptr, &sa);
  EXPECT_TRUE(sigismember(&sa.sa_mask, SIGUSR2));
  EXPECT_TRUE(sigismember(&sa.sa_mask, SIGHUP));
  EXPECT_FALSE(sa.sa_flags & SA_SIGINFO);
  raise(SIGUSR1);
  EXPECT_EQ(g_plain, 1);

  ASSERT_EQ(Signal::handle(SIGUSR1, info_handler, SA_RESTART), 0);
  sigaction(SIGUSR1, nullptr, &sa);
  EXPECT_TRUE(sa.sa_flags & SA_SIGINFO);
  EXPECT_TRUE(sa.sa_flags & SA_RESTART);
  raise(SIGUSR1);
  EXPECT_EQ(g_info_code, SI_TKILL);

  EXPECT_EQ(Signal::enable_int(SIGUSR1), 0);
  sigaction(SIGUSR1, nullptr, &sa);
  EXPECT_FALSE(sa.sa_flags & SA_RESTART);
  EXPECT_TRUE(sa.sa_flags & SA_SIGINFO);
  EXPECT_EQ(Signal::disable_int(SIGUSR1), 0);
  sigaction(SIGUSR1, nullptr, &sa);
  EXPECT_TRUE(sa.sa_flags & SA_RESTART);

  EXPECT_EQ(Signal::ignore(SIGUSR1), 0);
  raise(SIGUSR1);  // ignored
  EXPECT_EQ(Signal::system(SIGUSR1), 0);
  sigaction(SIGUSR1, nullptr, &sa);
  EXPECT_EQ(sa.sa_handler, SIG_DFL);
  EXPECT_NE(Signal::handle(1000, plain_handler, 0), 0);
}
