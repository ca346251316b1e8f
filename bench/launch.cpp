// How long starting a child holds the daemon: our launcher (fork, then wait until the child
// has dropped its close-on-exec descriptors) beside glibc's posix_spawn of the same program,
// which returns once the child has exec'd, in the same run. The daemon has 64 or 512
// close-on-exec descriptors open, as devices and sockets; the children are reaped untimed.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "RatioReporter.h"
#include "slots/ChildLauncher.h"

extern char** environ;

namespace {

constexpr const char* kProgram = "/bin/true";

struct OpenDescriptors {
  std::vector<int> fds;
  explicit OpenDescriptors(long n) {
    for (long i = 0; i < n; ++i) fds.push_back(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  }
  ~OpenDescriptors() {
    for (int fd : fds) ::close(fd);
  }
};

void reap(benchmark::State& state, pid_t pid) {
  state.PauseTiming();
  int status = 0;
  if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) state.SkipWithError("no child");
  state.ResumeTiming();
}

void BM_LauncherStart(benchmark::State& state) {
  OpenDescriptors open(state.range(0));
  ChildLauncher launcher;
  for (auto _ : state) reap(state, launcher.Start({kProgram}, {}));
}
BENCHMARK(BM_LauncherStart)->Arg(64)->Arg(512)->UseRealTime();

void BM_PosixSpawn(benchmark::State& state) {
  OpenDescriptors open(state.range(0));
  char* argv[] = {const_cast<char*>(kProgram), nullptr};
  for (auto _ : state) {
    pid_t pid = -1;
    if (::posix_spawn(&pid, kProgram, nullptr, nullptr, argv, environ) != 0) pid = -1;
    reap(state, pid);
  }
}
BENCHMARK(BM_PosixSpawn)->Arg(64)->Arg(512)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  return run_with_ratios(argc, argv,
                         {{"BM_LauncherStart/64/real_time", "BM_PosixSpawn/64/real_time"},
                          {"BM_LauncherStart/512/real_time", "BM_PosixSpawn/512/real_time"}});
}
