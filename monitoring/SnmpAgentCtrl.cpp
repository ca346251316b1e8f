#include "monitoring/SnmpAgentCtrl.h"

#include <iostream>
#include <vector>

#include "asn1/CoderEnv.h"
#include "control/ControlService.h"
#include "foundation/IniFile.h"
#include "monitoring/ISnmpAgentNotify.h"

namespace {

struct ItemRow {
  SnmpAgentCtrl::MonitoringItemType id;
  const char* group;
  const char* object;
  int mask;
};

using S = SnmpAgentCtrl;
const ItemRow kItems[] = {
    {S::driverBuild, "gatewayCommon", "driverBuild", 6},
    {S::softwareBuild, "gatewayCommon", "softwareBuild", 6},
    {S::powerStatus, "gatewayCommon", "powerStatus", 6},
    {S::controllerStatus, "gatewayCommon", "controllerStatus", 6},
    {S::gatewayDip, "gatewayCommon", "gatewayDip", 6},
    {S::gatewayConfigVersion, "gatewayCommon", "gatewayConfigVersion", 6},
    {S::extBoardStatus, "extBoardTable", "extBoardStatus", 2},
    {S::extBoardSoftVer, "extBoardTable", "extBoardSoftVer", 2},
    {S::extBoardType, "extBoardTable", "extBoardType", 2},
    {S::emPhonePanelSoftVer, "emPhoneTable", "emPhonePanelSoftVer", 2},
    {S::emPhoneCtrlSoftVer, "emPhoneTable", "emPhoneCtrlSoftVer", 2},
    {S::emPhoneFpgaSoftVer, "emPhoneTable", "emPhoneFpgaSoftVer", 2},
    {S::emPhoneStatus, "emPhoneTable", "emPhoneStatus", 2},
    {S::emPhonePowerStatus, "emPhoneTable", "emPhonePowerStatus", 2},
    {S::emPhoneMode, "emPhoneTable", "emPhoneMode", 2},
    {S::emPhoneHookStatus, "emPhoneTable", "emPhoneHookStatus", 2},
    {S::emPhoneBaseStatus, "emPhoneTable", "emPhoneBaseStatus", 2},
    {S::routerTermCnt, "gatewayTermCounters", "routerTermCnt", 6},
    {S::controllerTermCnt, "gatewayTermCounters", "controllerTermCnt", 6},
    {S::serverTermCnt, "gatewayTermCounters", "serverTermCnt", 6},
    {S::extBoardTermCnt, "extBoardTermCntTable", "extBoardTermCnt", 2},
    {S::e1Connected, "e1Table", "e1Connected", 2},
    {S::e1StatusDsc, "e1Table", "e1StatusDsc", 2},
    {S::e1SignalLoss, "e1Table", "e1SignalLoss", 2},
    {S::e1FrameAlignLoss, "e1Table", "e1FrameAlignLoss", 2},
    {S::e1NegSlipCount, "e1Table", "e1NegSlipCount", 2},
    {S::e1PosSlipCount, "e1Table", "e1PosSlipCount", 2},
    {S::sgBuildVersion, "statusGeneral", "sgBuildVersion", 4},
    {S::sgFPGAVersion, "statusGeneral", "sgFPGAVersion", 4},
    {S::sgBootVersion, "statusGeneral", "sgBootVersion", 4},
    {S::sgBoardVersion, "statusGeneral", "sgBoardVersion", 4},
    {S::ifDescr, "ifTable", "ifDescr", 6},
    {S::ifAdminStatus, "ifTable", "ifAdminStatus", 6},
    {S::ifOperStatus, "ifTable", "ifOperStatus", 6},
    {S::temperature, "gatewayCommon", "temperature", 2},
};

const ASN1::CoderEnv& perEnv() {
  static const ASN1::CoderEnv env(ASN1::CoderEnv::per);
  return env;
}

// The encoded size of the message that would carry the command.
size_t encoded_size(MON::Command const& command) {
  MON::Message message;
  message.get_pdu().set_command(command);
  std::vector<char> bytes;
  return perEnv().encodeBytes(message, bytes) ? bytes.size() : SIZE_MAX;
}

}  // namespace

SnmpAgentCtrl::SnmpAgentCtrl() {
  items_.reserve(std::size(kItems));
  for (auto const& row : kItems) items_.emplace_back(row.id, row.mask, row.group, row.object);
  dpc_.Bind(this, &SnmpAgentCtrl::OnDpcSend);
  pending_[0] = nullptr;
  pending_[1] = nullptr;
  for (int kind : {2, 4}) {
    pending_[kind] = std::make_unique<MON::Command>();
    pending_[kind]->select_snmp_set();
  }
}

SnmpAgentCtrl::~SnmpAgentCtrl() { dpc_.Deactivate(); }

void SnmpAgentCtrl::CreateInstances(IniFile::Section& section) {
  for (IniFile::SubSection& sub : section) {
    instances_.push_back(std::make_unique<SnmpAgentInstance>());
    instances_.back()->Bind(notify_);
    instances_.back()->Activate(sub);
  }
}

void SnmpAgentCtrl::Bind(ISnmpAgentNotify* notify) {
  notify_ = notify;
  for (auto& i : instances_) i->Bind(notify);
}

void SnmpAgentCtrl::UnBind() { Bind(nullptr); }

const MON::Command* SnmpAgentCtrl::pending(int kind) const {
  auto it = pending_.find(kind);
  return it == pending_.end() ? nullptr : it->second.get();
}

void SnmpAgentCtrl::Send(MonitoringItemType item, int index, std::string const& value) {
  const MonitoringItem* found = nullptr;
  for (auto const& i : items_) {
    if (i.id == item) {
      found = &i;
      break;
    }
  }
  if (!found) return;
  for (auto& [kind, command] : pending_) {
    if (!(kind & found->mask) || !command || !command->is_snmp_set()) continue;
    MON::SnmpSetCommand set;
    set.set_uniq(static_cast<int>(uniq_++));
    auto& name = set.get_id().select_name();
    name.set_section(found->group);
    name.set_name(found->object);
    name.set_index(index);
    set.set_value(value);
    command->select_snmp_set().get_commands().push_back(set);
    dpc_.Activate();
  }
}

void SnmpAgentCtrl::Send(MON::SnmpSetCommands const& commands) {
  if (commands.get_commands().empty()) return;
  Dispatch(commands, 0);
}

void SnmpAgentCtrl::SendTrapsink(std::list<std::string> const& hosts) {
  if (hosts.empty()) return;
  MON::Command command;
  auto& sinks = command.select_snmp_trapsink_set().get_trapsinks();
  for (auto const& host : hosts) {
    MON::SnmpTrapsink sink;
    sink.set_host(host);
    sinks.push_back(sink);
  }
  ToInstances(command, 0);
}

void SnmpAgentCtrl::OnDpcSend() {
  // Each kind's list goes to the agents of that kind: the kinds are what the item masks
  // select, and an agent of another kind would only see the values twice or not want them.
  for (auto& [kind, command] : pending_) {
    if (!command || !command->is_snmp_set()) continue;
    auto& list = command->select_snmp_set();
    if (list.get_commands().empty()) continue;
    Dispatch(list, kind);
    list.get_commands().clear();
  }
  dpc_.Deactivate();
}

void SnmpAgentCtrl::Dispatch(MON::SnmpSetCommands const& commands, int kindMask) {
  const unsigned total = commands.get_commands().size();
  for (unsigned first = 0; first < total; first += kMaxCommandsPerMessage)
    DispatchRange(commands, first, std::min(kMaxCommandsPerMessage, total - first), kindMask);
}

// A message too long for one frame is halved until each part fits; a single command that
// cannot fit alone is dropped with a line.
void SnmpAgentCtrl::DispatchRange(MON::SnmpSetCommands const& commands, unsigned first, unsigned count,
                                  int kindMask) {
  MON::Command command;
  auto& list = command.select_snmp_set().get_commands();
  auto const& all = commands.get_commands();
  for (unsigned i = first; i < first + count; ++i) list.push_back(all[i]);
  if (encoded_size(command) <= static_cast<size_t>(Control::Service::max_block)) {
    ToInstances(command, kindMask);
    return;
  }
  if (count == 1) {
    std::clog << "snmpagent: set command " << all[first].get_uniq().getValue() << " too long for a frame, dropped"
              << std::endl;
    return;
  }
  DispatchRange(commands, first, count / 2, kindMask);
  DispatchRange(commands, first + count / 2, count - count / 2, kindMask);
}

void SnmpAgentCtrl::ToInstances(MON::Command const& command, int kindMask) {
  for (auto& i : instances_)
    if (kindMask == 0 || (i->kind() & kindMask)) i->Command(command);
}
