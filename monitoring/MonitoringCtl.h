#pragma once
// The monitoring service, bound last: it polls the board on three timers, keeps the values in
// its data holder (which writes the status files), signals power changes to the controller,
// answers "display" and feeds every value to the SNMP agents, all of them again whenever an
// agent connection comes up.
#include <cstdint>
#include <iosfwd>

#include "control/CtrlSrvService.h"
#include "foundation/Dpc.h"
#include "foundation/TimerEvent.h"
#include "monitoring/ISnmpAgentNotify.h"
#include "monitoring/MonitoringDataHolder.h"
#include "monitoring/SnmpAgentCtrl.h"

namespace IniFile {
class File;
}

class MonitoringCtl : public CtrlSrv::Service, public ISnmpAgentNotify {
 public:
  static constexpr uint32_t kDipRead = 0xC0014205;
  static constexpr uint32_t kPowerRead = 0xC0014206;
  static constexpr uint32_t kLedWrite = 0xC0014207;
  static constexpr unsigned kBkgFirstMs = 1000, kBkgMs = 60000;
  static constexpr unsigned kPowerMs = 2000;
  static constexpr unsigned kControllerMs = 5000;

  static MonitoringCtl* instance();
  // The process builds its one object through instance(); tests build their own.
  MonitoringCtl();
  ~MonitoringCtl() override;

  // Configures the SNMP agent links from the section "snmpagent".
  void Configure(IniFile::File& file);

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(LGCP::Command const& command) override;
  void OnSnmpAgentConnect(std::string const& name) override;

  void PutHeader(std::ostream& os) const;

  MonitoringDataHolder& holder() { return data; }
  SnmpAgentCtrl& agents() { return snmp; }
  uint8_t leds() const { return framerLeds; }
  // Whether the driver has yet to confirm the LED byte on the present descriptor.
  bool ledsOwed() const { return ledsOwed_; }

  // The checks, one poll each (the timers run them; tests call them directly).
  void doVersionsCheck();
  void doConfigCheck();
  void doFramerCheck();
  void doTemperatureCheck();
  void doPowerCheck();
  void doDipCheck();
  void doNetIfCheck();
  void doControllerCheck();
  void OnDisplayCMD(LGCP::DisplayParams const& params);
  void OnDpcSend();

 private:
  bool IsOpen();
  // A request on "/dev/hal": a descriptor the driver gave up (the device was reset) is closed
  // and the request made once more on a new one.
  int halRequest(uint32_t number, void* arg);
  void onBkgCheckTimer(Timer*);
  void onPowerCheckTimer(Timer*);
  void onControllerCheckTimer(Timer*);
  void setFramerLed(LGCP::FramerInfo const& info);
  // Writes the wanted LED byte; it stays owed until the driver confirms it.
  void WriteLeds();
  // Writes the LED byte when it is owed and the device can be reached.
  void WriteOwedLeds();
  void LedsWritten(int result);
  void sendPowerStatus();

  void sendSnmpDriverBuild();
  void sendSnmpSoftwareBuild();
  void sendSnmpPowerStatus();
  void sendSnmpControllerStatus();
  void sendSnmpGatewayDip();
  void sendSnmpGatewayConfigVersion();
  void sendSnmpTemperature();
  void sendSnmpStatusBuildVersion();
  void sendSnmpStatusFPGAVersion();
  void sendSnmpStatusBootVersion();
  void sendSnmpStatusBoardVersion();
  void sendSnmpBoardStatus(LGCP::BoardStatusParams const& board);
  void sendSnmpBoardStatuses();
  void sendSnmpEmPhoneStatus(LGCP::EmPhoneStatusParams const& phone);
  void sendSnmpEmPhoneStatuses();
  void sendSnmpTermCnt(int owner, SnmpAgentCtrl::MonitoringItemType item);
  void sendSnmpRouterTermCnt();
  void sendSnmpControllerTermCnt();
  void sendSnmpServerTermCnt();
  void sendSnmpBoardTermCnt();
  void sendSnmpFramerStatus(FramerDataHolder const& framer);
  void sendSnmpFramerStatus();
  void sendSnmpNetIfStatus(NetIfDataHolder const& netIf);
  void sendSnmpNetIfStatus();
  void sendSnmpTrapReceivers();
  void sendSnmpCommands();
  void sendSnmpCommands(MON::SnmpSetCommands const& commands);

  int halFd = -1;
  MonitoringDataHolder data;
  SnmpAgentCtrl snmp;
  Timer bkgCheckTimer;
  Timer powerCheckTimer;
  Timer controllerCheckTimer;
  uint8_t framerLeds = 0;
  Dpc sendDpc;
  bool ledsOwed_ = false;
  bool ledsFailLogged_ = false;
  bool procUnreadableLogged_ = false;
};
