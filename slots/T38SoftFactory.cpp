#include "slots/T38SoftFactory.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string_view>
#include <utility>

#include "asn1/schemas/LGCP.h"
#include "board/board.h"
#include "board/mcc.h"
#include "foundation/Escaped.h"
#include "foundation/Fd.h"
#include "foundation/INet4.h"
#include "foundation/Paths.h"
#include "hardware/SwitchRoutes.h"
#include "slots/ChildLauncher.h"
#include "slots/T38SoftSlot.h"

void T38SoftFactory::PutHeader(std::ostream& os) const { os << "t38soft: "; }

std::vector<std::string> T38SoftFactory::Arguments(LGCP::T38Soft const& p) {
  const std::string remote = static_cast<std::string const&>(p.get_dhost().get_iaddr()) + "/" +
                             std::to_string(p.get_dhost().get_port().getValue()) + "/" +
                             std::to_string(p.get_shost().get_port().getValue());
  std::vector<std::string> args = {kProgram, "--child", "--remote", remote};
  for (const auto& extra : p.get_args()) {
    // The list's room holds 27 extra arguments beside the four fixed ones and its null.
    if (args.size() >= kMaxArgs - 1) break;
    args.emplace_back(static_cast<std::string const&>(extra));
  }
  return args;
}

bool T38SoftFactory::RemoteHost(std::string const& text) {
  uint32_t address = 0;
  if (INet4::ParseAddress(text, address)) return true;
  // A host name: dot-separated labels of letters, digits and inner hyphens, the last not all
  // digits (that is a mistyped address). Nothing else can stand before the engine's slashes.
  if (text.empty() || text.size() > 253) return false;
  size_t start = 0;
  bool numeric = false;
  while (start <= text.size()) {
    const size_t end = std::min(text.find('.', start), text.size());
    const std::string_view label(text.data() + start, end - start);
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
    numeric = true;
    for (const char c : label) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') return false;
      if (!std::isdigit(static_cast<unsigned char>(c))) numeric = false;
    }
    start = end + 1;
  }
  return !numeric;
}

bool T38SoftFactory::Acceptable(LGCP::T38Soft const& p) const {
  const std::string& host = p.get_dhost().get_iaddr();
  if (!RemoteHost(host)) {
    PutHeader(std::cerr);
    std::cerr << "t38 refused: bad address " << ext::escaped(host) << std::endl;
    return false;
  }
  for (const auto& arg : p.get_args()) {
    const std::string& text = arg;
    // The engine would see the argument cut at its NUL, not what the controller sent.
    if (text.find('\0') == std::string::npos) continue;
    PutHeader(std::cerr);
    std::cerr << "t38 refused: NUL byte in argument " << ext::escaped(text) << std::endl;
    return false;
  }
  return true;
}

Slot* T38SoftFactory::INewSlot(LGCP::CreateParams const& params) {
  if (params.getID() != LGCP::CreateParams::e_t38soft) return nullptr;
  const LGCP::T38Soft& p = params.get_t38soft();
  if (!Acceptable(p)) return nullptr;
  board::mcc::Allocate block;
  block.type = board::mcc::kTypeTransparent;
  block.rx_packet_size = static_cast<uint32_t>(p.get_rx_packet_size().getValue());
  block.reserved = 0;
  block.rx_threshold = static_cast<uint32_t>(p.get_rx_threshold().getValue());
  block.tx_threshold = static_cast<uint32_t>(p.get_tx_threshold().getValue());
  // Channels kept only for a released owner's last frames go back early when none is free.
  int ts = -1;
  SwitchRoutes::Step failed;
  Fd channel = SwitchRoutes::controller_channel(O_RDWR | O_CLOEXEC, block, ts, failed);
  if (!channel) {
    const int error = errno;
    PutHeader(std::cerr);
    std::cerr << "T38SoftFactory::INewSlot - FAIL to "
              << (failed == SwitchRoutes::Step::open       ? "open </dev/mcc/ctl>"
                  : failed == SwitchRoutes::Step::allocate ? "ioctl MCC_ALLOCATE"
                                                           : "ioctl MCC_TIMESLOT")
              << " [" << error << "]" << std::endl;
    return nullptr;
  }

  const std::vector<std::string> args = Arguments(p);
  PutHeader(std::clog);
  std::clog << "args for run t38 daemon:" << std::endl;
  for (size_t i = 0; i < args.size(); ++i) {
    PutHeader(std::clog);
    std::clog << "arg[" << i << "]=" << ext::escaped(args[i]) << std::endl;
  }
  ChildLauncher::Prelude prelude;
  prelude.input = channel.get();
  prelude.failure = kExecFailed;
  const pid_t pid = ChildLauncher::current->Start(args, prelude);
  if (pid < 0) return nullptr;
  PutHeader(std::clog);
  std::clog << "t38 daemon[" << pid << "] successfully started" << std::endl;
  // The channel stays allocated through the engine's standard input, and through the slot's
  // descriptor until no route of it stands.
  return new T38SoftSlot(pid, ts, std::move(channel));
}

void T38SoftFactory::Query(LGCP::Resources& r) { r.set_t38_instances(QueryNumOfInstances()); }

int T38SoftFactory::QueryNumOfInstances() {
  const std::string program = Paths::rooted(kProgram);
  int fds[2];
  if (::access(program.c_str(), X_OK) != 0 || ::pipe2(fds, O_CLOEXEC) != 0) {
    std::clog << "t38 daemon not found!" << std::endl;
    return 0;
  }
  Fd readEnd(fds[0]), writeEnd(fds[1]);
  Fd nothing(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  ChildLauncher::Prelude prelude;
  prelude.input = nothing ? nothing.get() : -1;
  prelude.output = writeEnd.get();
  prelude.failure = 127;
  const pid_t pid = ChildLauncher::current->Start({kProgram, "--num-of-instances"}, prelude);
  writeEnd.close();
  if (pid < 0) {
    std::clog << "t38 daemon not found!" << std::endl;
    return 0;
  }
  // One line of at most 31 characters, within the time limit: an engine that hangs must not
  // hold the daemon.
  char line[32] = {};
  size_t got = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(queryTimeoutMs);
  while (got < sizeof line - 1 && !std::memchr(line, '\n', got)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{readEnd.get(), POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    const ssize_t n = ::read(readEnd.get(), line + got, sizeof line - 1 - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ChildLauncher::current->Kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (got == 0) {
    std::clog << "t38: can't detect T38 resources" << std::endl;
    return 0;
  }
  return ParseInstances(line);
}

int T38SoftFactory::ParseInstances(const char* line) {
  // A count the resource record can carry: a reply out of range does not wrap.
  const long count = std::strtol(line, nullptr, 10);
  return static_cast<int>(std::clamp<long>(count, 0, INT_MAX));
}
