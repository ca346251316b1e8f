#include "monitoring/SnmpAgentInstance.h"

#include <arpa/inet.h>

#include <iostream>
#include <iterator>
#include <vector>

#include "asn1/CoderEnv.h"
#include "control/ConnectorNet.h"
#include "foundation/IniFile.h"
#include "foundation/IniReader.h"
#include "foundation/Mux.h"
#include "monitoring/ISnmpAgentNotify.h"

namespace {

const IniFile::Symbol<int> monitoringAddressTypes[] = {
    {"lemzgw", SnmpAgentInstance::lemzgw},
    {"lemzgw.qx", SnmpAgentInstance::lemzgwQx},
    {"quor", SnmpAgentInstance::quor},
    {nullptr, 0},
};

const ASN1::CoderEnv& perEnv() {
  static const ASN1::CoderEnv env(ASN1::CoderEnv::per);
  return env;
}

}  // namespace

SnmpAgentInstance::SnmpAgentInstance() { address_.Reset(); }

SnmpAgentInstance::~SnmpAgentInstance() {
  ping_.reset();
  if (connection_) {
    connection_->UnBind();
    connection_->Deactivate();
  }
}

void SnmpAgentInstance::Activate(IniFile::SubSection& sub) {
  std::string host;
  int kind = kindNone;
  IniFile::Reader reader("snmpagent: ");
  reader.required.add(&host, "host");
  reader.required.add(&name_, "name");
  reader.required.add(&kind, "name", monitoringAddressTypes);
  if (!reader.parse(sub)) return;
  kind_ = kind;
  // The address must be a dotted quad and the port one that can be connected to; anything
  // else leaves the agent unconnected rather than dialling a half-parsed address.
  // A host without a port leaves the agent unconnected without a word, as it always has.
  int port = -1;
  INet4::Addr address;
  const bool parsed = address.Assign(host, &port);
  if (parsed && host.find(':') == std::string::npos) return;
  if (!parsed || port <= 0 || port > 65535) {
    std::cerr << "snmpagent: " << name_ << ": host \"" << host << "\" is not an address and port" << std::endl;
    return;
  }
  address_ = address;
  state_ = stateActive;
  char dotted[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &address_.sin_addr, dotted, sizeof dotted);
  connection_ = std::make_unique<Control::ConnectorNet>(dotted, static_cast<unsigned short>(port));
  prefix_ = "snmpagent." + name_ + " " + address_.GetString();
  connection_->service_name(prefix_);
  connection_->Bind(this);
  connection_->Activate();
}

void SnmpAgentInstance::Command(MON::Command const& command) {
  MON::Message message;
  message.get_pdu().set_command(command);
  Send(message);
}

void SnmpAgentInstance::Send(MON::Message const& message) {
  if (!connection_ || connection_->state() != Control::State::Connected) return;
  std::vector<char> bytes;
  if (!perEnv().encodeBytes(message, bytes)) {
    std::clog << prefix_ << ": encode MON message fail!!!" << std::endl;
    return;
  }
  connection_->Send(bytes.data(), static_cast<int>(bytes.size()));
  SetPingTimer();
  const uint32_t now = Mux::milliseconds();
  if (static_cast<int32_t>(now - stamp_) > kSilenceMs) {
    std::clog << prefix_ << ": ping timeout !!!" << " now=" << now << " stamp=" << stamp_ << std::endl;
    connection_->Disconnect();
  }
}

void SnmpAgentInstance::SetPingTimer() { ping_.set(kPingMs, &SnmpAgentInstance::OnPingTimer, this); }

void SnmpAgentInstance::OnPingTimer(Timer*) {
  MON::Command ping;
  ping.set_ping();
  Command(ping);
}

// The ping is armed here, not only by the first message sent: an agent of a kind that is
// sent no items would otherwise never be pinged, and its silence never noticed.
void SnmpAgentInstance::OnConnect() {
  state_ = stateConnected;
  std::clog << prefix_ << ": connected." << std::endl;
  stamp_ = Mux::milliseconds();
  SetPingTimer();
  if (notify_) notify_->OnSnmpAgentConnect(name_);
}

void SnmpAgentInstance::OnDisconnect() {
  std::clog << prefix_ << ": connection lost, reset snmpagent instance" << std::endl;
  ping_.reset();
  if (state_ == stateConnected) state_ = stateLost;
}

void SnmpAgentInstance::OnMessage(char const* data, int length) {
  stamp_ = Mux::milliseconds();
  MON::Message message;
  if (length < 0 || !ASN1::decode(data, data + length, &perEnv(), message)) {
    std::cerr << prefix_ << ": receive : decode error!" << std::endl;
    return;
  }
  auto const& pdu = message.get_pdu();
  if (pdu.is_response()) OnResponse(pdu.get_response());
  else if (pdu.is_signal()) OnSignal(pdu.get_signal());
  else std::cerr << prefix_ << ": receive unknown message type" << std::endl;
}
