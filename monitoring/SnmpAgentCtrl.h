#pragma once
// The links to the external SNMP agents: one SnmpAgentInstance per configured agent, the table
// of monitoring items (which MIB object each value is, which kinds of agent want it), and the
// per-kind lists of set commands that gather values and leave from one deferred call.
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "asn1/schemas/MON.h"
#include "foundation/Dpc.h"
#include "monitoring/SnmpAgentInstance.h"

namespace IniFile {
class Section;
}
class ISnmpAgentNotify;

class SnmpAgentCtrl {
 public:
  enum MonitoringItemType : int {
    driverBuild, softwareBuild, powerStatus, controllerStatus, gatewayDip, gatewayConfigVersion,
    extBoardStatus, extBoardSoftVer, extBoardType,
    emPhonePanelSoftVer, emPhoneCtrlSoftVer, emPhoneFpgaSoftVer, emPhoneStatus, emPhonePowerStatus,
    emPhoneMode, emPhoneHookStatus, emPhoneBaseStatus,
    routerTermCnt, controllerTermCnt, serverTermCnt, extBoardTermCnt,
    e1Connected, e1StatusDsc, e1SignalLoss, e1FrameAlignLoss, e1NegSlipCount, e1PosSlipCount,
    sgBuildVersion, sgFPGAVersion, sgBootVersion, sgBoardVersion,
    ifDescr, ifAdminStatus, ifOperStatus,
    temperature,
  };

  struct MonitoringItem {
    MonitoringItem(MonitoringItemType id, int mask, std::string group, std::string object)
        : id(id), mask(mask), group(std::move(group)), object(std::move(object)) {}
    MonitoringItemType id;
    int mask;  // bit 2: agents of kind 2, bit 4: agents of kind 4
    std::string group;
    std::string object;
  };

  // Most set commands in one message: below the element limit of the PER coder's lists.
  static constexpr unsigned kMaxCommandsPerMessage = 100;

  SnmpAgentCtrl();
  virtual ~SnmpAgentCtrl();
  SnmpAgentCtrl(const SnmpAgentCtrl&) = delete;
  SnmpAgentCtrl& operator=(const SnmpAgentCtrl&) = delete;

  // One agent link per subsection, in order.
  void CreateInstances(IniFile::Section& section);
  void Bind(ISnmpAgentNotify* notify);
  void UnBind();

  // Queues one value for the agents that want the item; it leaves with the deferred flush.
  void Send(MonitoringItemType item, int index, std::string const& value);
  void Send(MonitoringItemType item, std::string const& value) { Send(item, 0, value); }
  // Sends the set commands to every agent at once.
  void Send(MON::SnmpSetCommands const& commands);
  // Sends the trap-sink list (hosts only) to every agent at once.
  void SendTrapsink(std::list<std::string> const& hosts);

  void OnDpcSend();

  const std::list<std::unique_ptr<SnmpAgentInstance>>& instances() const { return instances_; }
  const std::vector<MonitoringItem>& items() const { return items_; }
  // The queued set commands of one agent kind (2 or 4); null for kinds without a list.
  const MON::Command* pending(int kind) const;
  bool flush_pending() const { return dpc_.IsActive(); }
  uint32_t next_uniq() const { return uniq_; }
  void set_next_uniq(uint32_t uniq) { uniq_ = uniq; }

 private:
  // Hands the commands to every instance whose kind has a bit of kindMask (0: every
  // instance), split so that each message stays within the coder's and the frame's limits.
  void Dispatch(MON::SnmpSetCommands const& commands, int kindMask);
  void DispatchRange(MON::SnmpSetCommands const& commands, unsigned first, unsigned count, int kindMask);
  void ToInstances(MON::Command const& command, int kindMask);

  std::list<std::unique_ptr<SnmpAgentInstance>> instances_;
  std::vector<MonitoringItem> items_;
  Dpc dpc_;
  uint32_t uniq_ = 1;  // wraps through the negative numbers, as the field is a signed INTEGER
  ISnmpAgentNotify* notify_ = nullptr;
  std::map<int, std::unique_ptr<MON::Command>> pending_;
};
