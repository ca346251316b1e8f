#pragma once
// The last known monitoring values of the board, mirrored into the status files under
// "/var/monitoring/" that other processes on the board read. The monitoring service pushes
// every polled value and every "display" report in through the setters and reads the held
// values back when it feeds the SNMP agents.
#include <list>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "asn1/schemas/LGCP.h"
#include "asn1/schemas/MON.h"
#include "foundation/INet4.h"
#include "monitoring/FramerDataHolder.h"
#include "monitoring/NetIfDataHolder.h"

// The address text of a host, without its port.
std::string host2str(TERM::HostAddress const& host);

class MonitoringDataHolder {
 public:
  static constexpr const char* kDir = "/var/monitoring/";
  static constexpr const char* kControllerDir = "/var/monitoring/controller/";
  static constexpr const char* kTermCntDir = "/var/monitoring/term_cnts/";
  static constexpr const char* kFramerFiles = "/proc/driver/hdlc/peb22554/";

  MonitoringDataHolder();
  ~MonitoringDataHolder();
  MonitoringDataHolder(const MonitoringDataHolder&) = delete;
  MonitoringDataHolder& operator=(const MonitoringDataHolder&) = delete;

  // Scalar setters: true when the value changed (and was stored).
  bool setDipValue(int value);
  bool setPowerStatus(LGCP::POWERStatus const& status);
  bool setConfigVersion(unsigned long first, unsigned long long second);
  bool setTemperature(std::string const& text) { return setText(temperature, text); }
  bool setBuildVersion(std::string const& text) { return setText(buildVersion, text); }
  bool setFPGAVersion(std::string const& text) { return setText(fpgaVersion, text); }
  bool setBootVersion(std::string const& text) { return setText(bootVersion, text); }
  bool setBoardVersion(std::string const& text) { return setText(boardVersion, text); }

  // The controller's "display" reports.
  void setDisplayStatus(LGCP::DisplayParams const& params);
  void setBoardStatus(LGCP::BoardInfo const& info);
  void setEmPhoneInfo(LGCP::EmPhoneInfo const& info);
  void setTermCounter(LGCP::TermCounter const& counter);
  // True when the status of the controller at ownAddr changed.
  bool setControllerStatus(LGCP::ControllerInfo const& info);
  void setSnmpTrapReceivers(ASN1::SEQUENCE_OF<ASN1::IA5String> const& receivers);
  void setSnmpCommands(MON::SnmpSetCommands const& commands);
  void setFramerStatusChanged(LGCP::FramerInfo const&) {}

  // Empties "/var/monitoring/" (at start and at the end).
  void ClearMonitorFiles();
  // Drops the extension-board files and list when the controller is gone, with the retries
  // still pending for those files.
  void ClearControllerFiles();
  // Writes again the status files whose last write failed; the service calls it on its poll.
  void RetryFailedWrites();
  size_t failedWrites() const { return failed_.size(); }
  bool selfLinkOwed() const { return selfLinkOwed_; }

  INet4::Addr ownAddr;
  HSP::ControllerStatus ownControllerStatus;
  int controllerPid = -1;
  std::list<LGCP::ControllerInfo> controllers;
  LGCP::POWERStatus powerStatus;
  std::list<LGCP::BoardStatusParams> boardStatuses;
  std::list<LGCP::EmPhoneStatusParams> phoneStatuses;
  std::list<LGCP::TermCounter> termCounters;
  std::list<std::string> trapReceivers;
  int dipValue = -1;
  unsigned long long configVersion64 = ~0ull;
  unsigned long configVersion32 = 0xFFFFFFFFul;
  std::string temperature;
  std::string buildVersion;
  std::string fpgaVersion;
  std::string bootVersion;
  std::string boardVersion;
  MON::SnmpSetCommands snmpCommands;
  std::string paramText;
  std::list<FramerDataHolder> framers;
  std::list<NetIfDataHolder> netIfs;

 private:
  static bool setText(std::string& held, std::string const& text);
  // The entries of "/var/monitoring/" that hold the controller's extension-board reports.
  static bool IsControllerFile(std::string_view name);

  // The savers: the content of one status file.
  std::string DipStatusSaver() const;
  std::string PowerStatusSaver() const;
  std::string ConfigVersionSaver() const;
  static std::string BoardStatusSaver(LGCP::BoardStatusParams const& board);
  static std::string PhoneStatusSaver(LGCP::EmPhoneStatusParams const& phone);
  void MergeBoardStatus(LGCP::BoardStatusParams const& board);
  void MergePhoneStatus(LGCP::EmPhoneStatusParams const& phone);

  // Writes one status file (path under "/var/monitoring/", before the path root). A failure
  // is logged and the content kept for RetryFailedWrites.
  bool SaveStatusToFile(std::string const& path, std::string const& content);
  // Makes the folder when it is missing; false (logged once) when it cannot be made.
  bool CheckForMonDir(std::string const& path);
  bool MakeMonDir(std::string const& rooted);
  void CheckForMonControllerDir(INet4::Addr const& addr);
  // The "self" link to the own controller's folder; owed (and logged once) when it cannot be
  // made but for a name that is there already.
  void MakeSelfLink(std::string const& dir);
  void FindReaders();

  std::map<std::string, std::string> failed_;  // path -> content of a write that failed
  std::set<std::string> failedDirs_;           // rooted folders that could not be made, logged
  bool selfLinkOwed_ = false;                  // the "self" link waits for the retry
};
