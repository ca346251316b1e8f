#pragma once
// One external SNMP agent: an outgoing TPKT connection that carries MON messages, with a ping
// after 5 s without a message sent and a drop after 30 s without a frame received.
#include <memory>
#include <string>

#include "asn1/schemas/MON.h"
#include "control/ControlNotify.h"
#include "foundation/INet4.h"
#include "foundation/TimerEvent.h"

namespace Control {
class ConnectorNet;
}
namespace IniFile {
class SubSection;
}
class ISnmpAgentNotify;

class SnmpAgentInstance : public Control::Notify {
 public:
  enum MonitoringAddressType { kindNone = 0, lemzgw = 1, quor = 2, lemzgwQx = 4 };
  enum State { stateNew = 0, stateActive = 1, stateConnected = 2, stateLost = 3 };
  static constexpr unsigned kPingMs = 5000;
  static constexpr int kSilenceMs = 30000;

  SnmpAgentInstance();
  ~SnmpAgentInstance() override;

  // Reads "host" and "name" and, when both are usable, starts connecting.
  void Activate(IniFile::SubSection& sub);
  void Command(MON::Command const& command);
  void Send(MON::Message const& message);

  void OnConnect() override;
  void OnDisconnect() override;
  void OnMessage(char const* data, int length) override;

  void Bind(ISnmpAgentNotify* notify) { notify_ = notify; }
  int kind() const { return kind_; }
  const std::string& name() const { return name_; }
  State state() const { return state_; }
  const INet4::Addr& address() const { return address_; }
  const std::string& prefix() const { return prefix_; }
  bool ping_armed() const { return ping_.is_set(); }
  Control::ConnectorNet* connection() const { return connection_.get(); }

 private:
  void SetPingTimer();
  void OnPingTimer(Timer*);
  void OnResponse(MON::Response const&) {}
  void OnSignal(MON::Signal const&) {}

  std::unique_ptr<Control::ConnectorNet> connection_;
  int kind_ = kindNone;
  std::string name_;
  std::string prefix_;
  INet4::Addr address_;
  State state_ = stateNew;
  uint32_t stamp_ = 0;
  Timer ping_;
  ISnmpAgentNotify* notify_ = nullptr;
};
