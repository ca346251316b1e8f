#include "daemon/Daemon.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>

#include "foundation/Version.h"
#include "foundation/HourlyLog.h"
#include "foundation/Paths.h"
#include "foundation/Syslog.h"

namespace Daemon {

namespace {

// The syslog client keeps its own copy, but the identity must outlive every record anyway.
char identity[80];

// Raw writes to descriptors 1 and 2 reach syslog too: they go to a socket of their own on the
// same log socket, since the client does not lend its descriptor.
void RedirectRawOutput() {
  const std::string path = Paths::rooted("/dev/log");
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int s = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return;
  if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 && s > 0) {
    ::dup2(s, 1);
    ::dup2(s, 2);
  }
  ::close(s);
}

class Sentry {
 public:
  explicit Sentry(Params const& params) : mode_(params.mode) {
    if (::daemon(params.keepDir ? 1 : 0, 0) != 0) {
      std::cerr << "daemon() fail!" << std::endl;
      std::exit(2);
    }
    if (mode_ == Params::Syslog) {
      const std::string id = Identity(params.name);
      std::memcpy(identity, id.c_str(), id.size() + 1);
      syslogManager.openlog(identity, LOG_NDELAY, 0);
      out_ = std::make_unique<ManagedSysLogStreamBuf>(LOG_DAEMON, LOG_NOTICE);
      err_ = std::make_unique<ManagedSysLogStreamBuf>(LOG_DAEMON, LOG_ERR);
      log_ = std::make_unique<ManagedSysLogStreamBuf>(LOG_DAEMON, LOG_DEBUG);
      std::cout.rdbuf(out_.get());
      std::cerr.rdbuf(err_.get());
      std::clog.rdbuf(log_.get());
      std::cin.tie(&std::cout);
      RedirectRawOutput();
    } else {
      file_ = std::make_unique<LogFileStreamBuf>(params.name);
      std::cout.rdbuf(file_.get());
      std::cerr.rdbuf(file_.get());
      std::clog.rdbuf(file_.get());
    }
  }
  ~Sentry() {
    // The streams may still be written during exit: they are left without a buffer rather
    // than with a deleted one.
    std::cout.flush();
    std::cerr.flush();
    std::clog.flush();
    std::cout.rdbuf(nullptr);
    std::cerr.rdbuf(nullptr);
    std::clog.rdbuf(nullptr);
  }

 private:
  int mode_;
  std::unique_ptr<std::streambuf> out_, err_, log_;
  std::unique_ptr<LogFileStreamBuf> file_;
};

std::unique_ptr<Sentry>& sentry() {
  static std::unique_ptr<Sentry> s;
  return s;
}

}  // namespace

std::string Identity(const std::string& name) { return name.substr(0, sizeof identity - 1); }

void Init(Params const& params) {
  if (!sentry()) sentry() = std::make_unique<Sentry>(params);
}

}  // namespace Daemon

void RunDaemon() {
  std::ostringstream name;
  name << "vxr-";
  Version::current.put(name);
  Daemon::Params params;
  params.name = name.str();
  Daemon::Init(params);
}
