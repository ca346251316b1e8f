#include "monitoring/MonitoringCtl.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <vector>

#include "board/board.h"
#include "board/hal.h"
#include "foundation/Hex.h"
#include "foundation/Version.h"
#include "foundation/IniFile.h"
#include "foundation/Paths.h"
#include "foundation/Run.h"
#include "foundation/Traces.h"
#include "foundation/Wrapping.h"

namespace {

enum class Read { notOpened, empty, line };

// Opens a polled file for reading without ever waiting: a named pipe without a writer, or
// anything else that is not a regular file (as /proc entries and version files are), counts
// as a file that does not open (-1, errno set).
int open_regular(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  const int error = ::fstat(fd, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : EINVAL;
  if (!error) return fd;
  ::close(fd);
  errno = error;
  return -1;
}

// The first line of a small text file as fgets reads it into a zeroed buffer of `size` bytes
// with a limit of size - 1, line end included.
Read first_line(const char* path, const char* mode, size_t size, std::string& line) {
  const int fd = open_regular(Paths::rooted(path));
  if (fd < 0) return Read::notOpened;
  FILE* f = ::fdopen(fd, mode);
  if (!f) {
    ::close(fd);
    return Read::notOpened;
  }
  std::vector<char> buffer(size, '\0');
  const bool read = std::fgets(buffer.data(), static_cast<int>(size - 1), f) != nullptr;
  std::fclose(f);
  line = buffer.data();
  return read ? Read::line : Read::empty;
}

constexpr ssize_t kFramerReadSize = 1024;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

std::string strip(std::string const& text) {
  size_t b = 0, e = text.size();
  while (b < e && is_space(text[b])) ++b;
  while (e > b && is_space(text[e - 1])) --e;
  return text.substr(b, e - b);
}

// The driver build text from the first line of the voice driver's version file: pieces cut
// at blanks, "2 [3 4]" or "2 [3]", "none" with fewer than three pieces.
std::string driver_build(std::string const& line) {
  std::vector<std::string> pieces;
  size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && line[at] == ' ') ++at;
    if (at >= line.size()) break;
    const size_t end = line.find(' ', at);
    pieces.push_back(strip(line.substr(at, end == std::string::npos ? std::string::npos : end - at)));
    at = end == std::string::npos ? line.size() : end;
  }
  if (pieces.size() >= 4) return pieces[1] + " [" + pieces[2] + " " + pieces[3] + "]";
  if (pieces.size() == 3) return pieces[1] + " [" + pieces[2] + "]";
  return "none";
}

std::string octets(ASN1::OCTET_STRING const& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace

MonitoringCtl* MonitoringCtl::instance() {
  static MonitoringCtl monitoring;
  return &monitoring;
}

MonitoringCtl::MonitoringCtl() {
  bkgCheckTimer.set(kBkgFirstMs, &MonitoringCtl::onBkgCheckTimer, this);
  powerCheckTimer.set(kPowerMs, &MonitoringCtl::onPowerCheckTimer, this);
  controllerCheckTimer.set(kControllerMs, &MonitoringCtl::onControllerCheckTimer, this);
  sendDpc.Bind(this, &MonitoringCtl::OnDpcSend);
}

MonitoringCtl::~MonitoringCtl() {
  if (halFd >= 0) {
    framerLeds = 0;
    WriteLeds();
    board::close(halFd);
    halFd = -1;
  }
  sendDpc.Deactivate();
  snmp.UnBind();
}

void MonitoringCtl::Configure(IniFile::File& file) {
  snmp.CreateInstances(file["snmpagent"]);
  snmp.Bind(this);
}

void MonitoringCtl::PutHeader(std::ostream& os) const { os << "monitoring: "; }

// ---------------------------------------------------------------- control link

void MonitoringCtl::OnConnect() {
  doPowerCheck();
  sendPowerStatus();
  doControllerCheck();
}

void MonitoringCtl::OnDisconnect() {
  data.ClearControllerFiles();
  doControllerCheck();
}

bool MonitoringCtl::OnCommand(LGCP::Command const& command) {
  if (command.getID() != LGCP::Command::e_display) return false;
  OnDisplayCMD(command.get_display());
  Success();
  return true;
}

void MonitoringCtl::OnSnmpAgentConnect(std::string const&) { sendDpc.Activate(); }

void MonitoringCtl::sendPowerStatus() {
  LGCP::Signal signal;
  signal.select_power() = data.powerStatus;
  SendSignal(signal);
}

void MonitoringCtl::OnDisplayCMD(LGCP::DisplayParams const& params) {
  data.setDisplayStatus(params);
  switch (params.getID()) {
    case LGCP::DisplayParams::e_board:
      if (params.get_board().getID() == LGCP::BoardInfo::e_boardStatus)
        sendSnmpBoardStatus(params.get_board().get_boardStatus());
      break;
    case LGCP::DisplayParams::e_snmpTrapReceivers: sendSnmpTrapReceivers(); break;
    case LGCP::DisplayParams::e_framer: setFramerLed(params.get_framer()); break;
    case LGCP::DisplayParams::e_emPhone:
      if (params.get_emPhone().getID() == LGCP::EmPhoneInfo::e_phoneStatus)
        sendSnmpEmPhoneStatus(params.get_emPhone().get_phoneStatus());
      break;
    case LGCP::DisplayParams::e_controller: sendSnmpControllerStatus(); break;
    case LGCP::DisplayParams::e_termCounter:
      sendSnmpRouterTermCnt();
      sendSnmpControllerTermCnt();
      sendSnmpServerTermCnt();
      sendSnmpBoardTermCnt();
      break;
    case LGCP::DisplayParams::e_snmp_set: sendSnmpCommands(params.get_snmp_set()); break;
    default: break;
  }
}

// ---------------------------------------------------------------- the driver

// A new descriptor (at start, or after the device was reset) gets the LEDs as last set.
bool MonitoringCtl::IsOpen() {
  if (halFd >= 0) return true;
  halFd = board::open("/dev/hal", O_RDWR | O_CLOEXEC);
  if (halFd < 0) return false;
  uint8_t leds = framerLeds;
  LedsWritten(board::ioctl(halFd, kLedWrite, &leds));
  return true;
}

int MonitoringCtl::halRequest(uint32_t number, void* arg) {
  return board::ioctl_reopening(halFd, number, arg, [this] { return IsOpen(); });
}

void MonitoringCtl::WriteLeds() {
  uint8_t leds = framerLeds;
  LedsWritten(halRequest(kLedWrite, &leds));
}

void MonitoringCtl::LedsWritten(int result) {
  if (result >= 0) {
    ledsOwed_ = false;
    ledsFailLogged_ = false;
    return;
  }
  const int error = errno;
  ledsOwed_ = true;
  // Once until the driver takes the byte, not at every retry of the poll.
  if (ledsFailLogged_) return;
  ledsFailLogged_ = true;
  std::cerr << ext::header(this) << "framer LED write fail: " << std::strerror(error) << std::endl;
}

// The report is kept whether or not the driver can be reached now: the next descriptor, or
// the poll's retry, writes it.
void MonitoringCtl::setFramerLed(LGCP::FramerInfo const& info) {
  const unsigned e = info.get_e1().getValue() & 3;
  const uint8_t line = static_cast<uint8_t>(1u << (2 * e + 1));
  const uint8_t link = static_cast<uint8_t>(1u << (2 * e));
  auto const& report = info.get_info();
  if (report.is_link()) {
    if (report.get_link()) framerLeds &= static_cast<uint8_t>(~link);
    else framerLeds |= link;
  } else if (report.is_line()) {
    if (report.get_line()) {
      if (!(framerLeds & line)) framerLeds |= link;
      framerLeds |= line;
    } else {
      framerLeds &= static_cast<uint8_t>(~(line | link));
    }
  }
  ledsOwed_ = true;
  WriteOwedLeds();
}

void MonitoringCtl::WriteOwedLeds() {
  // A descriptor opened here has been given the byte already (IsOpen), which may settle it.
  if (ledsOwed_ && IsOpen() && ledsOwed_) WriteLeds();
}

// ---------------------------------------------------------------- timers and checks

void MonitoringCtl::onBkgCheckTimer(Timer*) {
  doVersionsCheck();
  doConfigCheck();
  doFramerCheck();
  doTemperatureCheck();
  bkgCheckTimer.set(kBkgMs, &MonitoringCtl::onBkgCheckTimer, this);
}

void MonitoringCtl::onPowerCheckTimer(Timer*) {
  doPowerCheck();
  doDipCheck();
  // A LED byte the driver refused, or that waited for the device, is written again.
  WriteOwedLeds();
  doNetIfCheck();
  data.RetryFailedWrites();
  powerCheckTimer.set(kPowerMs, &MonitoringCtl::onPowerCheckTimer, this);
}

void MonitoringCtl::onControllerCheckTimer(Timer*) {
  doControllerCheck();
  controllerCheckTimer.set(kControllerMs, &MonitoringCtl::onControllerCheckTimer, this);
}

void MonitoringCtl::doVersionsCheck() {
  struct Row {
    const char* file;
    const char* trace;
    bool (MonitoringDataHolder::*set)(std::string const&);
    void (MonitoringCtl::*send)();
  };
  static const Row rows[] = {
      {"/var/version", "BuildVersion - ", &MonitoringDataHolder::setBuildVersion,
       &MonitoringCtl::sendSnmpStatusBuildVersion},
      {"/var/u-boot-version", "BootVersion - ", &MonitoringDataHolder::setBootVersion,
       &MonitoringCtl::sendSnmpStatusBootVersion},
      {"/var/fpga-version", "FPGAVersion - ", &MonitoringDataHolder::setFPGAVersion,
       &MonitoringCtl::sendSnmpStatusFPGAVersion},
      {"/var/board-version", "BoardVersion - ", &MonitoringDataHolder::setBoardVersion,
       &MonitoringCtl::sendSnmpStatusBoardVersion},
  };
  for (auto const& row : rows) {
    std::string line;
    if (first_line(row.file, "r", 256, line) == Read::notOpened) continue;
    if (traces.monitoring_internal()) std::clog << row.trace << line << std::endl;
    if ((data.*row.set)(line)) (this->*row.send)();
  }
}

void MonitoringCtl::doConfigCheck() {
  const std::string path = Paths::rooted("/usr/local/etc/");
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return;
  unsigned long first = 0;
  unsigned long long second = 0;
  while (dirent* e = ::readdir(dir)) {
    struct stat st;
    if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) continue;
    const std::string name = e->d_name;
    if (name.rfind("config.", 0) != 0 || name.rfind("config.2save.tar.bz2", 0) == 0) continue;
    const std::string rest = name.substr(7, 25);
    // Too short for the first part and its separator: not a configuration version.
    if (rest.size() < 9) continue;
    unsigned long a;
    std::istringstream in1(rest.substr(0, 8));
    if (in1 >> std::hex >> a) first = a & 0xFFFFFFFFul;
    unsigned long long b;
    std::istringstream in2(rest.substr(9, 16));
    if (in2 >> std::hex >> b) second = b;
    if (data.setConfigVersion(first, second)) sendSnmpGatewayConfigVersion();
  }
  ::closedir(dir);
}

void MonitoringCtl::doFramerCheck() {
  for (auto& framer : data.framers) {
    const int fd = open_regular(framer.fileName);
    if (fd < 0) {
      if (traces.monitoring_internal())
        std::clog << "Error open file: \"" << framer.fileName << "\" errno=\"" << std::strerror(errno) << "\""
                  << std::endl;
      continue;
    }
    std::vector<unsigned char> bytes(kFramerReadSize);
    const ssize_t n = ::read(fd, bytes.data(), bytes.size());
    const int error = errno;
    ::close(fd);
    if (n <= 0) {
      if (traces.monitoring_internal())
        std::clog << "Error read file: \"" << framer.fileName << "\" errno=\"" << std::strerror(n < 0 ? error : 0)
                  << "\"" << std::endl;
      continue;
    }
    bytes.resize(static_cast<size_t>(n));
    // A read that filled the buffer may have cut its last line (the driver's file can be
    // longer): that line is left out, so its field keeps the value held, never a cut one.
    if (n == kFramerReadSize && std::find(bytes.begin(), bytes.end(), '\0') == bytes.end()) {
      const auto last = std::find(bytes.rbegin(), bytes.rend(), '\n');
      bytes.erase(last.base(), bytes.end());
      if (bytes.empty()) continue;
    }
    if (framer.setFramerStatus(bytes)) sendSnmpFramerStatus(framer);
  }
}

void MonitoringCtl::doTemperatureCheck() {
  std::string line;
  if (first_line("/proc/temperature", "r", 256, line) == Read::notOpened) return;
  if (traces.monitoring_internal()) std::clog << "Temperature - " << line << std::endl;
  size_t end = 0;
  while (end < line.size() && !is_space(line[end])) ++end;
  if (data.setTemperature(line.substr(0, end))) sendSnmpTemperature();
}

void MonitoringCtl::doPowerCheck() {
  if (!IsOpen()) return;
  uint8_t code = 0;
  if (halRequest(kPowerRead, &code) < 0) return;
  LGCP::POWERStatus status;
  switch (code) {
    case 1: status = LGCP::POWERStatus::standby; break;
    case 2: status = LGCP::POWERStatus::main; break;
    case 0:
    case 3: status = LGCP::POWERStatus::both; break;
    default: status = LGCP::POWERStatus::unknown; break;
  }
  if (!data.setPowerStatus(status)) return;
  if (traces.monitoring_internal()) std::clog << "New power status - " << status << std::endl;
  sendPowerStatus();
  sendSnmpPowerStatus();
}

void MonitoringCtl::doDipCheck() {
  if (!IsOpen()) return;
  uint8_t dip = 0;
  if (halRequest(kDipRead, &dip) < 0) return;
  if (!data.setDipValue(dip)) return;
  if (traces.monitoring_internal()) std::clog << "New dip - " << static_cast<char>(dip) << std::endl;
  sendSnmpGatewayDip();
}

void MonitoringCtl::doNetIfCheck() {
  for (auto& netIf : data.netIfs)
    if (netIf.updateNetIf()) sendSnmpNetIfStatus(netIf);
}

void MonitoringCtl::doControllerCheck() {
  LGCP::ControllerInfo info;
  info.get_host().set_iaddr(::inet_ntoa(data.ownAddr.sin_addr));
  info.get_host().get_port() = 0u;
  bool connected = false;
  if (CheckServerConnection(connected) && connected) {
    info.get_status() = data.ownControllerStatus;
  } else {
    const int pid = look_for_proc_by_name("controller", data.controllerPid);
    if (pid == kProcUnreadable) {
      // Could not look (a shortage of descriptors): not a sign that the controller is down.
      // The held status stays until the next check can tell.
      if (!procUnreadableLogged_)
        std::cerr << ext::header(this) << "can't look for the controller process: /proc unreadable" << std::endl;
      procUnreadableLogged_ = true;
      return;
    }
    procUnreadableLogged_ = false;
    data.controllerPid = pid;
    info.set_status(data.controllerPid > 0 ? HSP::ControllerStatus::notconnection : HSP::ControllerStatus::notrun);
  }
  if (data.setControllerStatus(info)) sendSnmpControllerStatus();
}

// ---------------------------------------------------------------- SNMP values

void MonitoringCtl::sendSnmpDriverBuild() {
  std::string line;
  if (first_line("/proc/voice/version", "rb", 128, line) != Read::line) return;
  snmp.Send(SnmpAgentCtrl::driverBuild, driver_build(line));
}

void MonitoringCtl::sendSnmpSoftwareBuild() {
  std::ostringstream text;
  Version::current.put(text);
  snmp.Send(SnmpAgentCtrl::softwareBuild, text.str());
}

void MonitoringCtl::sendSnmpPowerStatus() {
  snmp.Send(SnmpAgentCtrl::powerStatus, std::to_string(static_cast<uint32_t>(data.powerStatus.getValue())));
}

void MonitoringCtl::sendSnmpControllerStatus() {
  snmp.Send(SnmpAgentCtrl::controllerStatus,
            std::to_string(static_cast<uint32_t>(data.ownControllerStatus.getValue())));
}

void MonitoringCtl::sendSnmpGatewayDip() {
  snmp.Send(SnmpAgentCtrl::gatewayDip, std::to_string(static_cast<uint32_t>(data.dipValue)));
}

void MonitoringCtl::sendSnmpGatewayConfigVersion() {
  snmp.Send(SnmpAgentCtrl::gatewayConfigVersion, std::to_string(static_cast<uint32_t>(data.configVersion32)));
}

void MonitoringCtl::sendSnmpTemperature() { snmp.Send(SnmpAgentCtrl::temperature, data.temperature); }
void MonitoringCtl::sendSnmpStatusBuildVersion() { snmp.Send(SnmpAgentCtrl::sgBuildVersion, data.buildVersion); }
void MonitoringCtl::sendSnmpStatusFPGAVersion() { snmp.Send(SnmpAgentCtrl::sgFPGAVersion, data.fpgaVersion); }
void MonitoringCtl::sendSnmpStatusBootVersion() { snmp.Send(SnmpAgentCtrl::sgBootVersion, data.bootVersion); }
void MonitoringCtl::sendSnmpStatusBoardVersion() { snmp.Send(SnmpAgentCtrl::sgBoardVersion, data.boardVersion); }

void MonitoringCtl::sendSnmpBoardStatus(LGCP::BoardStatusParams const& board) {
  const int index = board.get_position().getValue();
  snmp.Send(SnmpAgentCtrl::extBoardStatus, index, std::to_string(board.get_status().getValue()));
  snmp.Send(SnmpAgentCtrl::extBoardSoftVer, index, octets(board.get_version()));
  snmp.Send(SnmpAgentCtrl::extBoardType, index, std::to_string(board.get_type().getValue()));
}

void MonitoringCtl::sendSnmpBoardStatuses() {
  for (auto const& board : data.boardStatuses) sendSnmpBoardStatus(board);
}

void MonitoringCtl::sendSnmpEmPhoneStatus(LGCP::EmPhoneStatusParams const& phone) {
  const int index = WrapAdd(phone.get_id().getValue(), 1);
  snmp.Send(SnmpAgentCtrl::emPhonePanelSoftVer, index, octets(phone.get_panelSV()));
  snmp.Send(SnmpAgentCtrl::emPhoneCtrlSoftVer, index, octets(phone.get_ctrlSV()));
  snmp.Send(SnmpAgentCtrl::emPhoneFpgaSoftVer, index, octets(phone.get_fpgaSV()));
  snmp.Send(SnmpAgentCtrl::emPhoneStatus, index, std::to_string(phone.get_status().getValue()));
  snmp.Send(SnmpAgentCtrl::emPhonePowerStatus, index, std::to_string(phone.get_powerStatus().getValue()));
  snmp.Send(SnmpAgentCtrl::emPhoneMode, index, std::to_string(phone.get_mode().getValue()));
  snmp.Send(SnmpAgentCtrl::emPhoneHookStatus, index, std::to_string(phone.get_hookStatus().getValue()));
  snmp.Send(SnmpAgentCtrl::emPhoneBaseStatus, index, std::to_string(phone.get_baseStatus().getValue()));
}

void MonitoringCtl::sendSnmpEmPhoneStatuses() {
  for (auto const& phone : data.phoneStatuses) sendSnmpEmPhoneStatus(phone);
}

void MonitoringCtl::sendSnmpTermCnt(int owner, SnmpAgentCtrl::MonitoringItemType item) {
  for (auto const& c : data.termCounters)
    if (c.get_owner().getValue() == owner)
      snmp.Send(item, std::to_string(static_cast<uint32_t>(c.get_cnt().getValue())));
}

void MonitoringCtl::sendSnmpRouterTermCnt() { sendSnmpTermCnt(LGCP::TermCounterOwner::router, SnmpAgentCtrl::routerTermCnt); }
void MonitoringCtl::sendSnmpControllerTermCnt() {
  sendSnmpTermCnt(LGCP::TermCounterOwner::controller, SnmpAgentCtrl::controllerTermCnt);
}
void MonitoringCtl::sendSnmpServerTermCnt() { sendSnmpTermCnt(LGCP::TermCounterOwner::server, SnmpAgentCtrl::serverTermCnt); }

void MonitoringCtl::sendSnmpBoardTermCnt() {
  for (auto const& c : data.termCounters)
    if (c.get_owner().getValue() == LGCP::TermCounterOwner::extBoard && c.has_ownerId())
      snmp.Send(SnmpAgentCtrl::extBoardTermCnt, c.get_ownerId().getValue(),
                std::to_string(static_cast<uint32_t>(c.get_cnt().getValue())));
}

void MonitoringCtl::sendSnmpFramerStatus(FramerDataHolder const& framer) {
  snmp.Send(SnmpAgentCtrl::e1Connected, framer.index, framer.connected ? "1" : "0");
  snmp.Send(SnmpAgentCtrl::e1StatusDsc, framer.index, framer.statusDsc);
  snmp.Send(SnmpAgentCtrl::e1SignalLoss, framer.index, framer.signalLoss ? "1" : "0");
  snmp.Send(SnmpAgentCtrl::e1FrameAlignLoss, framer.index, framer.frameAlignLoss ? "1" : "0");
  snmp.Send(SnmpAgentCtrl::e1NegSlipCount, framer.index, std::to_string(framer.negSlipCount));
  snmp.Send(SnmpAgentCtrl::e1PosSlipCount, framer.index, std::to_string(framer.posSlipCount));
}

void MonitoringCtl::sendSnmpFramerStatus() {
  for (auto const& framer : data.framers) sendSnmpFramerStatus(framer);
}

void MonitoringCtl::sendSnmpNetIfStatus(NetIfDataHolder const& netIf) {
  snmp.Send(SnmpAgentCtrl::ifOperStatus, netIf.index, std::to_string(netIf.operStatus));
  snmp.Send(SnmpAgentCtrl::ifAdminStatus, netIf.index, std::to_string(netIf.adminStatus));
  snmp.Send(SnmpAgentCtrl::ifDescr, netIf.index, netIf.name);
}

void MonitoringCtl::sendSnmpNetIfStatus() {
  for (auto const& netIf : data.netIfs) sendSnmpNetIfStatus(netIf);
}

void MonitoringCtl::sendSnmpTrapReceivers() { snmp.SendTrapsink(data.trapReceivers); }
void MonitoringCtl::sendSnmpCommands() { snmp.Send(data.snmpCommands); }
void MonitoringCtl::sendSnmpCommands(MON::SnmpSetCommands const& commands) { snmp.Send(commands); }

void MonitoringCtl::OnDpcSend() {
  sendSnmpTrapReceivers();
  sendSnmpDriverBuild();
  sendSnmpSoftwareBuild();
  sendSnmpPowerStatus();
  sendSnmpControllerStatus();
  sendSnmpGatewayDip();
  sendSnmpGatewayConfigVersion();
  sendSnmpTemperature();
  sendSnmpStatusBuildVersion();
  sendSnmpStatusFPGAVersion();
  sendSnmpStatusBootVersion();
  sendSnmpStatusBoardVersion();
  sendSnmpBoardStatuses();
  sendSnmpEmPhoneStatuses();
  sendSnmpRouterTermCnt();
  sendSnmpControllerTermCnt();
  sendSnmpServerTermCnt();
  sendSnmpBoardTermCnt();
  sendSnmpFramerStatus();
  sendSnmpNetIfStatus();
  sendSnmpCommands();
  sendDpc.Deactivate();
}
