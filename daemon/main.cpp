// Entry point of voxrelay and voxrelay-sim (the same daemon on the real or the simulated board):
// configuration, signals, options, factories and services, the control port, the loop.
#include <getopt.h>

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>

#include "control/AcceptorNetCheckConnection.h"
#include "control/CtrlSrvServer.h"
#include "daemon/Daemon.h"
#include "daemon/SlotFactories.h"
#include "daemon/StandardDescriptors.h"
#include "foundation/Version.h"
#include "foundation/ChildWait.h"
#include "foundation/Dpc.h"
#include "foundation/IniFile.h"
#include "foundation/List_allocator.h"
#include "foundation/Multiplexer.h"
#include "foundation/Packet.h"
#include "foundation/Paths.h"
#include "foundation/Run.h"
#include "foundation/Signal.h"
#include "foundation/Traces.h"
#include "hardware/BusCtl.h"
#include "hardware/E1Ctl.h"
#include "hardware/HwMux.h"
#include "hardware/HwTests.h"
#include "hardware/spiCtrl.h"
#include "monitoring/HeartBeatCtl.h"
#include "monitoring/MonitoringCtl.h"
#include "slots/ChildLauncher.h"
#include "slots/Slots.h"
#ifdef VOXRELAY_SIM_BOARD
#include "board/sim/SimServer.h"
#endif

namespace {

const char* const configFile = "/usr/local/etc/server.conf";
const char* const cfgTraces = "traces";

volatile sig_atomic_t doDumpStatus = false;
volatile sig_atomic_t terminateRequested = false;
volatile sig_atomic_t updateResources = false;
int print_version = 0;

void SigPipeHandler(int) {}
// The flag as well: the loop clears its own terminate request when it starts, and a signal
// that arrives before that must not be lost.
void SigTermHandler(int) {
  terminateRequested = true;
  multiplexer.terminate();
}
void SigUsr2Handler(int) { doDumpStatus = true; }
void SigHupHandler(int) { updateResources = true; }

void usage() {
  std::cout << "Usage:\n"
               " voxrelay -Dh\n"
               "  -D --daemon                      run as daemon\n"
               "  -p --port                        use this port\n"
               "     --disable-clock               disable clock control\n"
               "     --version                     print version\n"
               "  -h --help                        display this information\n"
               "\n"
            << std::flush;
}

void CheckDumpStatus() {
  if (!doDumpStatus) return;
  doDumpStatus = false;
  std::ofstream file(Paths::rooted("/var/log/server-status"), std::ios::out | std::ios::trunc);
  if (!file) {
    std::cerr << "dump status error" << std::endl;
    return;
  }
  file << "voxrelay gateway control daemon: status" << std::endl;
  file << "version : ";
  Version::current.put(file);
  file << std::endl;
  multiplexer.dump(file);
  file << "packet pool free : " << PacketPool::instance().free_count() << std::endl;
}

void CheckUpdateResources() {
  if (!updateResources) return;
  updateResources = false;
  std::clog << "update hardware resources" << std::endl;
  Slots::instance()->UpdateHardwareResources();
}

void CheckSignals() {
  if (terminateRequested) multiplexer.terminate();
  CheckDumpStatus();
  CheckUpdateResources();
}

// The control port: a decimal number in 1..65535 and nothing else.
bool ParsePort(const char* text, int& port) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 1 || value > 65535) return false;
  port = static_cast<int>(value);
  return true;
}

// Tests of the simulated board may shorten the heartbeat; the board's own daemon never reads it.
void ApplyTestOverrides() {
#ifdef VOXRELAY_SIM_BOARD
  if (const char* ms = std::getenv("VOXRELAY_TEST_HEARTBEAT_MS")) {
    const long v = std::strtol(ms, nullptr, 10);
    if (v > 0 && v <= static_cast<long>(HeartBeatCtl::kTimeoutMs))
      HeartBeatCtl::instance()->set_timeout_ms(static_cast<unsigned>(v));
  }
#endif
}

// Before every other initialiser of the program, some of which open descriptors.
__attribute__((constructor(101))) void StandardDescriptorsFirst() {
  if (OpenStandardDescriptors()) return;
  static const char text[] = "not started: cannot open /dev/null for a closed standard descriptor\n";
  // With descriptor 2 closed as well the exit status alone tells.
  [[maybe_unused]] const ssize_t written = ::write(2, text, sizeof text - 1);
  ::_exit(2);
}

// The pid file claimed for this run. It is held until the process ends: the services clear
// their status files and close their ports at exit, after main returns, and a daemon started
// on the same root in the meantime must not lose its own to them.
std::unique_ptr<Linux::Run>& RootClaim() {
  static std::unique_ptr<Linux::Run> claim;
  return claim;
}

// False (with a line on the error stream) when another live server holds the root, which
// then must be left exactly as it is.
bool ClaimRoot() {
  auto run = std::make_unique<Linux::Run>("server", Linux::Run::Write::later);
  if (run->taken()) {
    std::cerr << "not started: server already running on this root";
    if (run->holder() > 0) std::cerr << ", pid=" << run->holder();
    std::cerr << " (" << run->path() << ")" << std::endl;
    return false;
  }
  // Not fatal, as before the guard: the run goes on without a pid file or without its lock.
  if (run->error()) std::cerr << "pid file " << run->path() << ": " << std::strerror(run->error()) << std::endl;
  RootClaim() = std::move(run);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Every path below is taken under the root: it must not move when daemon mode leaves the
  // working directory. A root that cannot be used still lets the help and version through.
  std::string unusableRoot;
  const bool rootUsable = Paths::settle_root(unusableRoot);
  std::unique_ptr<IniFile::File> file = std::make_unique<IniFile::File>();
  if (file->Open(Paths::rooted(configFile))) traces.Configure((*file)[cfgTraces]);

  IPC::Signal::handle(SIGPIPE, SigPipeHandler, SA_RESTART);
  IPC::Signal::handle(SIGTERM, SigTermHandler, 0);
  IPC::Signal::handle(SIGINT, SigTermHandler, 0);
  IPC::Signal::handle(SIGUSR2, SigUsr2Handler, SA_RESTART);
  IPC::Signal::handle(SIGHUP, SigHupHandler, SA_RESTART);

  int port = 20001;
  bool daemon = false;
  static const option options[] = {
      {"daemon", no_argument, nullptr, 'D'},
      {"disable-clock", no_argument, nullptr, 10},
      {"port", required_argument, nullptr, 'p'},
      {"version", no_argument, &print_version, 1},
      {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0},
  };
  for (;;) {
    const int c = getopt_long(argc, argv, "Dh", options, nullptr);
    if (c == -1) break;
    switch (c) {
      case 0: break;  // a flag option
      case 'D': daemon = true; break;
      case 10: BusCtl::instance()->DisableControl(); break;
      case 'p':
        if (!ParsePort(optarg, port)) {
          usage();
          return 2;
        }
        break;
      case 'h': usage(); return 0;
      default: usage(); return 2;
    }
  }
  if (print_version) {
    std::cout << "server version: ";
    Version::current.put(std::cout);
    std::cout << std::endl;
    return 2;
  }
  if (!rootUsable) {
    std::cerr << "not started: " << unusableRoot << std::endl;
    return 2;
  }
  // Before anything that a running server owns is touched: its status files, devices, ports,
  // the simulator's socket and its pid file.
  if (!ClaimRoot()) return 2;
  ApplyTestOverrides();

  CreateSlotFactories();

  HwMux::instance();
  MonitoringCtl::instance()->Configure(*file);

  if (daemon) RunDaemon();

  RootClaim()->write();
  std::cout << "Starting server [";
  Version::current.put(std::cout);
  std::cout << "], port=" << port << std::endl;

  ctrlServer.Bind(HeartBeatCtl::instance());
  ctrlServer.Bind(Slots::instance());
  ctrlServer.Bind(HwTests::instance());
  ctrlServer.Bind(BusCtl::instance());
  ctrlServer.Bind(E1Ctl::instance());
  ctrlServer.Bind(spiCtrl::instance());
  ctrlServer.Bind(MonitoringCtl::instance());

  ChildWait::Activate();
  Dpc* checkSignals = new Dpc(new DpcHandler1(CheckSignals));
  checkSignals->Activate();

#ifdef VOXRELAY_SIM_BOARD
  board::sim::serve();
#endif

  ctrlServer.Activate(new Control::AcceptorNetCheckConnection(port));
  multiplexer.run(true, true);

  // As at a controller loss: every slot goes and its programs are told to end; the stop then
  // waits for them as a loss would (the signal check, which would end every pass at once, is
  // gone by then), so that no child outlives the daemon.
  ctrlServer.Deactivate();
  checkSignals->Deactivate();
  delete checkSignals;
  Slots::instance()->Shutdown();
  ChildLauncher::EndAll();
  // The pid file goes at exit, after the services built since the claim (RootClaim).
  file.reset();
  return 0;
}
