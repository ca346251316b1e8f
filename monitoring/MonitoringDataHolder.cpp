#include "monitoring/MonitoringDataHolder.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <net/if.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "board/board.h"
#include "foundation/Escaped.h"
#include "foundation/Paths.h"
#include "foundation/Traces.h"
#include "monitoring/StatusFiles.h"

std::string host2str(TERM::HostAddress const& host) { return host.get_iaddr(); }

namespace {

std::string dotted(INet4::Addr const& addr) { return ::inet_ntoa(addr.sin_addr); }

std::string octets(ASN1::OCTET_STRING const& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The bytes as one line of a status file: other processes read these files line by line, so a
// line end or another control byte in a peer's text must not move the lines that follow.
std::string line_of(ASN1::OCTET_STRING const& bytes) { return ext::escaped(octets(bytes)); }

bool same_identity(MON::SnmpSetCommandId const& a, MON::SnmpSetCommandId const& b) {
  if (a.getID() != b.getID()) return false;
  if (a.getID() == MON::SnmpSetCommandId::e_oid) return a.get_oid() == b.get_oid();
  if (a.getID() != MON::SnmpSetCommandId::e_name) return false;
  auto const& x = a.get_name();
  auto const& y = b.get_name();
  return x.get_section() == y.get_section() && x.get_name() == y.get_name() &&
         x.get_index().getValue() == y.get_index().getValue();
}

}  // namespace

MonitoringDataHolder::MonitoringDataHolder() {
  ClearMonitorFiles();
  std::list<INet4::Addr> addresses;
  if (Net::ifconfig(addresses, Net::ifconfig_private) > 0 && !addresses.empty()) {
    ownAddr = addresses.front();
    ownAddr.sin_port = 0;
  } else {
    ownAddr.Reset();
    ownAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  FindReaders();
  CheckForMonDir(kDir);
  CheckForMonDir(kTermCntDir);
}

MonitoringDataHolder::~MonitoringDataHolder() { ClearMonitorFiles(); }

void MonitoringDataHolder::FindReaders() {
  for (int n = 0; n < 4; ++n) {
    const std::string path = Paths::rooted(kFramerFiles + std::to_string(n));
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) framers.emplace_back(n + 1, path);
  }
  const int s = OpenInterfaceSocket();
  if (s < 0) return;
  for (int index = 0; index < 16; ++index) {
    ifreq request;
    std::memset(&request, 0, sizeof request);
    request.ifr_ifindex = index;
    if (board::ioctl(s, NetIfDataHolder::kGetName, &request) < 0) continue;
    netIfs.emplace_back(index, std::string(request.ifr_name, strnlen(request.ifr_name, sizeof request.ifr_name)));
  }
  board::close(s);
}

// ---------------------------------------------------------------- scalar values

bool MonitoringDataHolder::setText(std::string& held, std::string const& text) {
  if (held == text) return false;
  held = text;
  return true;
}

bool MonitoringDataHolder::setDipValue(int value) {
  if (value == dipValue) return false;
  dipValue = value;
  SaveStatusToFile(std::string(kDir) + "dip", DipStatusSaver());
  return true;
}

bool MonitoringDataHolder::setPowerStatus(LGCP::POWERStatus const& status) {
  if (status.getValue() == powerStatus.getValue()) return false;
  powerStatus = status;
  SaveStatusToFile(std::string(kDir) + "powerstatus", PowerStatusSaver());
  return true;
}

bool MonitoringDataHolder::setConfigVersion(unsigned long first, unsigned long long second) {
  if (first == configVersion32 && second == configVersion64) return false;
  configVersion32 = first;
  configVersion64 = second;
  SaveStatusToFile(std::string(kDir) + "config_version", ConfigVersionSaver());
  return true;
}

std::string MonitoringDataHolder::DipStatusSaver() const { return std::to_string(dipValue); }

std::string MonitoringDataHolder::PowerStatusSaver() const {
  const int v = powerStatus.getValue();
  return v >= 1 && v <= 3 ? std::to_string(v) : "0";
}

std::string MonitoringDataHolder::ConfigVersionSaver() const {
  char text[48];
  std::snprintf(text, sizeof text, "%08lx-%016llx", configVersion32, configVersion64);
  return text;
}

// ---------------------------------------------------------------- "display" reports

void MonitoringDataHolder::setDisplayStatus(LGCP::DisplayParams const& params) {
  switch (params.getID()) {
    case LGCP::DisplayParams::e_board: setBoardStatus(params.get_board()); break;
    case LGCP::DisplayParams::e_snmpTrapReceivers: setSnmpTrapReceivers(params.get_snmpTrapReceivers()); break;
    case LGCP::DisplayParams::e_emPhone: setEmPhoneInfo(params.get_emPhone()); break;
    case LGCP::DisplayParams::e_controller: setControllerStatus(params.get_controller()); break;
    case LGCP::DisplayParams::e_termCounter: setTermCounter(params.get_termCounter()); break;
    case LGCP::DisplayParams::e_snmp_set: setSnmpCommands(params.get_snmp_set()); break;
    default: break;  // framer reports and extensions leave the files alone
  }
}

std::string MonitoringDataHolder::BoardStatusSaver(LGCP::BoardStatusParams const& board) {
  return std::to_string(board.get_status().getValue()) + "\n" + line_of(board.get_version()) + "\n" +
         std::to_string(board.get_type().getValue()) + "\n";
}

std::string MonitoringDataHolder::PhoneStatusSaver(LGCP::EmPhoneStatusParams const& phone) {
  std::string text = line_of(phone.get_panelSV()) + "\n" + line_of(phone.get_ctrlSV()) + "\n" +
                     line_of(phone.get_fpgaSV()) + "\n";
  for (int v : {phone.get_status().getValue(), phone.get_powerStatus().getValue(), phone.get_mode().getValue(),
                phone.get_hookStatus().getValue(), phone.get_baseStatus().getValue()})
    text += std::to_string(v) + "\n";
  return text;
}

// The list keeps the report even when its file could not be written: the held value and the
// file are brought together again by the retry, not by dropping the report.
void MonitoringDataHolder::MergeBoardStatus(LGCP::BoardStatusParams const& board) {
  for (auto& held : boardStatuses) {
    if (held.get_position().getValue() != board.get_position().getValue()) continue;
    held.get_type() = board.get_type();
    held.get_version() = board.get_version();
    held.get_status() = board.get_status();
    return;
  }
  boardStatuses.push_back(board);
}

void MonitoringDataHolder::MergePhoneStatus(LGCP::EmPhoneStatusParams const& phone) {
  for (auto& held : phoneStatuses) {
    if (held.get_id().getValue() != phone.get_id().getValue()) continue;
    const int id = held.get_id().getValue();
    held = phone;
    held.set_id(id);
    return;
  }
  phoneStatuses.push_back(phone);
}

void MonitoringDataHolder::setBoardStatus(LGCP::BoardInfo const& info) {
  if (info.getID() != LGCP::BoardInfo::e_boardStatus) return;
  auto const& board = info.get_boardStatus();
  SaveStatusToFile(std::string(kDir) + "board" + std::to_string(board.get_position().getValue()),
                   BoardStatusSaver(board));
  MergeBoardStatus(board);
}

void MonitoringDataHolder::setEmPhoneInfo(LGCP::EmPhoneInfo const& info) {
  if (info.getID() != LGCP::EmPhoneInfo::e_phoneStatus) return;
  auto const& phone = info.get_phoneStatus();
  SaveStatusToFile(std::string(kDir) + "emphone" + std::to_string(phone.get_id().getValue()), PhoneStatusSaver(phone));
  MergePhoneStatus(phone);
}

void MonitoringDataHolder::setTermCounter(LGCP::TermCounter const& counter) {
  const int owner = counter.get_owner().getValue();
  std::string file;
  switch (owner) {
    case LGCP::TermCounterOwner::router: file = "router"; break;
    case LGCP::TermCounterOwner::controller: file = "controller"; break;
    case LGCP::TermCounterOwner::server: file = "server"; break;
    case LGCP::TermCounterOwner::extBoard:
      if (counter.has_ownerId()) file = "board" + std::to_string(counter.get_ownerId().getValue());
      break;
    default: break;
  }
  if (!file.empty()) SaveStatusToFile(kTermCntDir + file, std::to_string(counter.get_cnt().getValue()));
  for (auto& held : termCounters) {
    if (held.get_owner().getValue() != owner) continue;
    if (held.has_ownerId() &&
        (!counter.has_ownerId() || held.get_ownerId().getValue() != counter.get_ownerId().getValue()))
      continue;
    held.set_cnt(counter.get_cnt().getValue());
    return;
  }
  termCounters.push_back(counter);
}

bool MonitoringDataHolder::setControllerStatus(LGCP::ControllerInfo const& info) {
  INet4::Addr addr;
  addr.Reset();
  int port = 0;
  addr.Assign(host2str(info.get_host()), &port);
  const bool own = addr.IsEqual(ownAddr);
  if (own) ownControllerStatus = info.get_status();
  LGCP::ControllerInfo* held = nullptr;
  for (auto& c : controllers) {
    if (c.get_host().get_iaddr() == info.get_host().get_iaddr() &&
        c.get_host().get_port().getValue() == info.get_host().get_port().getValue()) {
      held = &c;
      break;
    }
  }
  bool changed = true;
  if (held) {
    changed = held->get_status().getValue() != info.get_status().getValue();
    held->get_status() = info.get_status();
  } else {
    controllers.push_back(info);
  }
  if (!changed) return false;
  if (traces.monitoring_internal())
    std::clog << "New controller " << dotted(addr) << " status - " << info.get_status() << std::endl;
  CheckForMonControllerDir(addr);
  SaveStatusToFile(kControllerDir + dotted(addr) + "/status", std::to_string(info.get_status().getValue()));
  return own;
}

void MonitoringDataHolder::setSnmpTrapReceivers(ASN1::SEQUENCE_OF<ASN1::IA5String> const& receivers) {
  if (traces.monitoring_internal()) std::clog << "Trap receivers:" << receivers << std::endl;
  trapReceivers.clear();
  for (auto const& r : receivers) trapReceivers.push_back(r);
}

void MonitoringDataHolder::setSnmpCommands(MON::SnmpSetCommands const& commands) {
  auto& held = snmpCommands.get_commands();
  for (auto const& command : commands.get_commands()) {
    auto const& id = command.get_id();
    const bool named = id.getID() == MON::SnmpSetCommandId::e_name;
    // The section and the name become path components: a text that would leave the status
    // folder (or name no entry at all) refuses the whole command.
    if (named && (!StatusFiles::IsSafeComponent(id.get_name().get_section()) ||
                  !StatusFiles::IsSafeComponent(id.get_name().get_name()))) {
      std::clog << "refuse SNMP set command: section or name is not a plain file name" << std::endl;
      continue;
    }
    bool found = false;
    for (auto& h : held) {
      if (!same_identity(h.get_id(), id)) continue;
      h.set_value(command.get_value());
      found = true;
      break;
    }
    if (!found) held.push_back(command);
    if (!named) continue;
    auto const& name = id.get_name();
    const std::string d1 = kDir + std::string(name.get_section());
    const std::string d2 = d1 + "/" + std::to_string(name.get_index().getValue());
    const std::string file = d2 + "/" + std::string(name.get_name());
    paramText = command.get_value();
    // A folder that cannot be made (its name taken by a file, a full file system) is logged
    // once; the file waits for the retry, which makes the folders as soon as they can be.
    if (CheckForMonDir(d1) && CheckForMonDir(d2)) SaveStatusToFile(file, paramText);
    else failed_[file] = paramText;
  }
}

// ---------------------------------------------------------------- files and folders

bool MonitoringDataHolder::SaveStatusToFile(std::string const& path, std::string const& content) {
  const std::string rooted = Paths::rooted(path);
  if (const int error = StatusFiles::WriteAtomic(rooted, content)) {
    // Logged once per file, not at every retry of the poll.
    if (!failed_.count(path))
      std::clog << "FAIL create temporary file <" << ext::escaped(rooted) << "> with code=" << error << std::endl;
    failed_[path] = content;
    return false;
  }
  failed_.erase(path);
  return true;
}

void MonitoringDataHolder::RetryFailedWrites() {
  if (failed_.empty() && !selfLinkOwed_) return;
  CheckForMonDir(kDir);
  if (selfLinkOwed_) {
    const std::string own = Paths::rooted(kControllerDir + dotted(ownAddr));
    if (CheckForMonDir(kControllerDir) && MakeMonDir(own)) MakeSelfLink(own);
  }
  auto pending = failed_;
  for (auto const& [path, content] : pending) {
    // The folders may have gone missing since (or never have been made).
    bool folders = true;
    for (size_t slash = path.find('/', std::strlen(kDir)); folders && slash != std::string::npos;
         slash = path.find('/', slash + 1))
      folders = CheckForMonDir(path.substr(0, slash));
    if (folders) SaveStatusToFile(path, content);
  }
}

bool MonitoringDataHolder::CheckForMonDir(std::string const& path) { return MakeMonDir(Paths::rooted(path)); }

bool MonitoringDataHolder::MakeMonDir(std::string const& rooted) {
  if (const int error = StatusFiles::MakeDir(rooted)) {
    // Once, not at every retry of the poll: the line comes again only after the folder has
    // been made in between.
    if (failedDirs_.insert(rooted).second)
      std::clog << "FAIL create monitoring catalog <" << ext::escaped(rooted) << "> with code=" << error << std::endl;
    return false;
  }
  failedDirs_.erase(rooted);
  return true;
}

void MonitoringDataHolder::CheckForMonControllerDir(INet4::Addr const& addr) {
  CheckForMonDir(kControllerDir);
  const std::string dir = Paths::rooted(kControllerDir + dotted(addr));
  struct stat st;
  if (::lstat(dir.c_str(), &st) == 0) return;  // made before: never linked again
  const bool own = addr.IsEqual(ownAddr);
  if (!MakeMonDir(dir)) {
    // The folder comes with the retry of its status file; the link is owed with it.
    if (own) selfLinkOwed_ = true;
    return;
  }
  if (own) MakeSelfLink(dir);
}

void MonitoringDataHolder::MakeSelfLink(std::string const& dir) {
  if (::symlink(dir.c_str(), Paths::rooted(std::string(kControllerDir) + "self").c_str()) == 0) {
    selfLinkOwed_ = false;
    return;
  }
  const int error = errno;
  // A name that is there already is left as it is; anything else is tried again by the poll,
  // logged once.
  if (error != EEXIST && selfLinkOwed_) return;
  std::clog << "FAIL create symlink to monitoring catalog <" << ext::escaped(dir) << "> with code=" << error
            << std::endl;
  selfLinkOwed_ = error != EEXIST;
}

void MonitoringDataHolder::ClearMonitorFiles() {
  StatusFiles::ClearDir(Paths::rooted(kDir));
  failed_.clear();
  failedDirs_.clear();
  selfLinkOwed_ = false;
}

bool MonitoringDataHolder::IsControllerFile(std::string_view name) { return name.substr(0, 5) == "board"; }

void MonitoringDataHolder::ClearControllerFiles() {
  // A write of these files still waiting for its retry would publish the lost controller's
  // report after the clean-up; it goes too, whether or not its file was ever made and
  // whether or not the folder can be read now.
  std::erase_if(failed_, [](auto const& pending) {
    const std::string_view path = pending.first, dir = kDir;
    return path.substr(0, dir.size()) == dir && path.find('/', dir.size()) == std::string_view::npos &&
           IsControllerFile(path.substr(dir.size()));
  });
  DIR* dir = ::opendir(Paths::rooted(kDir).c_str());
  if (!dir) return;
  while (dirent* e = ::readdir(dir)) {
    if (!IsControllerFile(e->d_name)) continue;
    if (traces.monitoring_internal()) std::clog << "remove monitoring info: " << ext::escaped(e->d_name) << std::endl;
    ::unlinkat(::dirfd(dir), e->d_name, 0);
  }
  ::closedir(dir);
  boardStatuses.clear();
}
