#pragma once
// One signalling link of the telephone network on an HDLC controller channel: SS7 level 2
// (also for CAS trunks, which run no link), ISDN LAPD on a primary-rate or basic-rate D
// channel, or the network side of a basic-rate port. Connected to a trunk slot it binds the
// channel to the trunk timeslot and starts the link; link messages travel as "userData" and
// the link statistics go out as "ioctl" signals every 3 seconds.
#include <memory>

#include "control/Protocol_name.h"
#include "control/ProtocolsFamily.h"
#include "foundation/TimerEvent.h"
#include "hardware/HDLC.h"
#include "links/LAPD.h"
#include "slots/Slot.h"

namespace ISDN {
class LAPD_NT;
}
namespace SS7 {
class SLC;
}

class PstnSlot : public Slot, public ProtocolsFamily, public ISDN::LAPD::Notify, public HDLC::Notify {
 public:
  enum Kind { ss7 = 0, isdn_pri = 1, bri_user = 2, bri_network = 3 };
  static constexpr unsigned kUpdateMs = 3000;

  explicit PstnSlot(LGCP::PstnParams const& params);
  ~PstnSlot() override;

  void OnTrunkStatus(unsigned trunk, ACP::TrunkState::NamedNumber const& state) override;
  bool IActivate(TERM::TermActivateParams const& params) override;
  bool IDeactivate() override;
  bool IUserData(std::vector<char> const& data) override;
  bool Ioctl(LGCP::IoctlParams const& params) override;
  // Above every other kind, so that this slot makes and takes down the hardware path.
  int GetConnectionPriority() override { return 1; }
  bool IHwConnectTransmitter(Slot& sink) override;
  bool IHwConnectReceiver(Slot& source) override;
  bool IHwDisconnectTransmitter(Slot& sink) override;
  bool IHwDisconnectReceiver(Slot& source) override;
  // The link's channel serves the connection's TDM channel and the switch carries the routes the
  // connection made as the newest of their outputs' wishes; a connection whose hook makes
  // nothing stands as it is.
  bool IHwTransmitterStands(Slot& sink) override;
  bool IHwReceiverStands(Slot& source) override;
  // A primary-rate or SS7 link takes a source on trunks 0 to 3, timeslots 0 to 31 only.
  bool IHwAcceptsSource(Slot& source) override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  const char* GetName() const override { return "pstn"; }

  // HDLC::Notify: the channel's events, forwarded to the link layer.
  void on_hdlc_receive(Packet& frame) override;
  void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
  void on_hdlc_ready() override;

  // ProtocolsFamily: what the link reports upwards; frames that the network side of a
  // basic-rate port sends down leave through the channel.
  void on_activated(Protocol* p) override;
  void on_deactivated(Protocol* p, Protocol_status status) override;
  void on_message(Packet& p) override;
  void transmit(Packet& p) override;
  Protocol_name const& name() const override { return familyName; }

  void OnLAPD_FlowStatusChange(ISDN::LAPD* link) override;
  void OnUpdateTimer();

  std::unique_ptr<HDLC> hdlc;
  int kind = ss7;
  int trunk = 0;
  SS7::SLC* slc = nullptr;
  ISDN::LAPD* lapd = nullptr;
  ISDN::LAPD_NT* lapdNt = nullptr;
  HDLC::Notify* link = nullptr;
  ACP::TrunkState::NamedNumber trunkState = ACP::TrunkState::unknown;
  Timer updateTimer;
  Protocol_name_str familyName{"PSTN"};
  unsigned deactivations = 0;  // "deactivated" reports of the link layer

 private:
  // Activates the channel, then the link: false when no channel could be had.
  bool iactivate();
  bool e1() const { return kind == ss7 || kind == isdn_pri; }
  // The channel failed, or an activation got none: the link layer goes out of service.
  void out_of_service(HDLC::Notify::Cause::Type cause);
  void SendIsdnStatistics();
  void SendSS7Statistics();
  // The network side of a basic-rate port hears the channel through this.
  struct NtReceiver : HDLC::Notify {
    ISDN::LAPD_NT* nt = nullptr;
    void on_hdlc_receive(Packet& frame) override;
    void on_hdlc_error(HDLC::Notify::Cause::Type) override {}
    void on_hdlc_ready() override {}
  } ntReceiver;
};
