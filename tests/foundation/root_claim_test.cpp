// One path root per daemon: the root is made absolute for the whole run, and its pid file is
// held by one live process at a time, through daemon mode's fork as well.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "foundation/Paths.h"
#include "foundation/Run.h"
#include "tests/support/FileDate.h"
#include "tests/support/TempDir.h"

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class Root : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(tmp.path() + "/var/run");
    ::setenv("VOXRELAY_ROOT", tmp.path().c_str(), 1);
  }
  void TearDown() override { ::unsetenv("VOXRELAY_ROOT"); }

  vxtest::TempDir tmp{"vx_root"};
  const std::string pidfile = tmp.path() + "/var/run/server.pid";
};

TEST(Paths, AbsoluteKeepsWhatTheKernelWouldResolve) {
  EXPECT_EQ(Paths::absolute("sim-root", "/home/u"), "/home/u/sim-root");
  EXPECT_EQ(Paths::absolute("./a//b/./", "/c/"), "/c/a/b");
  EXPECT_EQ(Paths::absolute("../r", "/x/link"), "/x/link/../r");
  EXPECT_EQ(Paths::absolute("/abs/./p/", "/ignored"), "/abs/p");
  EXPECT_EQ(Paths::absolute(".", "/"), "/");
}

TEST_F(Root, ARelativeRootIsSettledAgainstTheWorkingDirectory) {
  const std::filesystem::path where(tmp.path());
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(where.parent_path());
  ::setenv("VOXRELAY_ROOT", ("./" + where.filename().string() + "/").c_str(), 1);
  std::string error;
  const bool usable = Paths::settle_root(error);
  std::filesystem::current_path(cwd);
  EXPECT_TRUE(usable) << error;
  EXPECT_EQ(Paths::rooted("/var/run/server.pid"), pidfile);
  EXPECT_STREQ(std::getenv("VOXRELAY_ROOT"), tmp.path().c_str());  // what child programs get

  std::ofstream(tmp.path() + "/plain") << "x";
  for (const std::string bad : {"/missing", "/plain"}) {
    ::setenv("VOXRELAY_ROOT", (tmp.path() + bad).c_str(), 1);
    EXPECT_FALSE(Paths::settle_root(error));
    EXPECT_EQ(error.rfind("path root \"" + tmp.path() + bad + "\": ", 0), 0u) << error;
  }
  ::setenv("VOXRELAY_ROOT", "", 1);
  EXPECT_TRUE(Paths::settle_root(error));
}

// As daemon mode does: the claim is made, the process forks, the parent ends at once and the
// child writes its own id. Another process then finds the file held and leaves it alone.
TEST_F(Root, AClaimSurvivesTheForkAndRefusesAnother) {
  const std::string stale = std::to_string(getppid());  // a live process that holds nothing
  std::ofstream(pidfile) << stale;
  int ready[2], go[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(go), 0);
  const pid_t first = fork();
  if (first == 0) {
    auto* run = new Linux::Run("server", Linux::Run::Write::later);
    if (!run->held() || slurp(pidfile) != stale) _exit(3);  // claimed, not yet written
    if (fork() == 0) {
      run->write();
      const pid_t self = getpid();
      char byte;
      if (write(ready[1], &self, sizeof self) != sizeof self || read(go[0], &byte, 1) != 1) _exit(4);
      delete run;
      _exit(0);
    }
    _exit(0);  // no destructors: the lock stays with the child
  }
  close(ready[1]);  // the pipe then ends when the child does
  int status = -1;
  ASSERT_EQ(waitpid(first, &status, 0), first);
  ASSERT_EQ(status, 0);
  pid_t daemon = 0;
  ASSERT_EQ(read(ready[0], &daemon, sizeof daemon), static_cast<ssize_t>(sizeof daemon));
  EXPECT_EQ(slurp(pidfile), std::to_string(daemon));

  {
    Linux::Run second("server");
    EXPECT_FALSE(second.held());
    EXPECT_TRUE(second.taken());
    EXPECT_EQ(second.holder(), daemon);
    second.write();
  }
  EXPECT_EQ(slurp(pidfile), std::to_string(daemon));

  ASSERT_EQ(write(go[1], "x", 1), 1);
  char end;
  EXPECT_EQ(read(ready[0], &end, 1), 0);  // the holder has ended, and removed the file
  EXPECT_FALSE(std::filesystem::exists(pidfile));
  for (int fd : {ready[0], go[0], go[1]}) close(fd);

  Linux::Run next("server");
  EXPECT_TRUE(next.held());
  EXPECT_FALSE(next.taken());
  EXPECT_EQ(slurp(pidfile), std::to_string(getpid()));
}

// A pid file left dated past 2038 is claimed, guarded and removed as one dated today.
TEST_F(Root, APidFileDatedPast2038IsClaimedGuardedAndRemoved) {
  std::ofstream(pidfile) << "1";
  ASSERT_EQ(vxtest::date_file(pidfile, vxtest::k2040), 0);
  {
    Linux::Run run("server", Linux::Run::Write::later);
    EXPECT_TRUE(run.held()) << std::strerror(run.error());
    EXPECT_EQ(run.error(), 0);
    Linux::Run second("server");
    EXPECT_FALSE(second.held());
    EXPECT_TRUE(second.taken());
    run.write();
    EXPECT_EQ(slurp(pidfile), std::to_string(getpid()));
  }
  EXPECT_NE(::access(pidfile.c_str(), F_OK), 0) << "removed at the end";
}

}  // namespace
