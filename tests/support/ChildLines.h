#pragma once
// A far-end program as a child process: its standard input a pipe that takes command lines,
// its standard output a pipe whose lines are gathered without blocking.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace vxtest {

class ChildLines {
 public:
  // argv[0] is the program's path.
  explicit ChildLines(const std::vector<std::string>& argv) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) < 0 || ::pipe2(out, O_CLOEXEC) < 0) return;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if ((pid_ = ::fork()) == 0) {
      ::dup2(in[0], 0), ::dup2(out[1], 1);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    ::close(in[0]), ::close(out[1]);
    to_ = in[1], from_ = out[0];
    ::fcntl(from_, F_SETFL, O_NONBLOCK);
  }
  ~ChildLines() {
    if (to_ >= 0) ::close(to_);  // end of input ends the peer
    if (pid_ > 0) ::kill(pid_, SIGTERM), ::waitpid(pid_, nullptr, 0);
    if (from_ >= 0) ::close(from_);
  }
  ChildLines(const ChildLines&) = delete;
  ChildLines& operator=(const ChildLines&) = delete;

  void command(const std::string& line) {
    std::string l = line + "\n";
    ASSERT_EQ(::write(to_, l.data(), l.size()), static_cast<ssize_t>(l.size()));
  }

  // Takes in what the child wrote; its complete lines are appended to `lines`.
  void read_lines() {
    char buf[4096];
    for (ssize_t n; (n = ::read(from_, buf, sizeof buf)) > 0;) pending_.append(buf, static_cast<size_t>(n));
    for (size_t nl; (nl = pending_.find('\n')) != std::string::npos; pending_.erase(0, nl + 1))
      lines.push_back(pending_.substr(0, nl));
  }

  // The lines so far that start with `prefix`.
  int count(const std::string& prefix) const {
    int n = 0;
    for (const auto& l : lines) n += l.rfind(prefix, 0) == 0;
    return n;
  }

  std::vector<std::string> lines;

 private:
  pid_t pid_ = -1;
  int to_ = -1, from_ = -1;
  std::string pending_;
};

}  // namespace vxtest
