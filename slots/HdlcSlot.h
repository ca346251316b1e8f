#pragma once
// A raw HDLC data channel for the controller: packages from "ioctl" hdlcPackages commands go
// out framed with a two-octet address and a sequence octet; frames that come back for the
// slot's address return in batches as "ioctl" signals. The slot makes no switch path of its
// own: its HDLC channel is patched to the connected slot's TDM channel when it activates. The
// channel stands while a connection names that TDM channel: a connection that goes takes its
// own direction's route with it, the last one the channel, and a slot left with none is as a
// fresh one.
#include <cstdint>
#include <iosfwd>
#include <memory>

#include "asn1/PEREncoder.h"
#include "control/ControlService.h"
#include "control/Protocol_name.h"
#include "foundation/CleanQueue.h"
#include "foundation/Packet.h"
#include "foundation/TimerEvent.h"
#include "hardware/HDLC.h"
#include "slots/Slot.h"

class HdlcSlot : public Slot, public HDLC::Notify {
 public:
  static constexpr unsigned kUpdateMs = 3000;
  static constexpr unsigned kFlushMs = 100;
  static constexpr unsigned kQueueLimit = 120;
  // Address (2) and sequence octet (1) in front of every body.
  static constexpr unsigned kHeader = 3;
  // The octet whose bit 7 says that more frames of the batch follow.
  static constexpr unsigned kMoreOctet = 4;
  // What one "ioctl" signal can carry: a package body of at most 16383 octets (a longer one
  // would need a fragmented length), as many packages as a decoder accepts, and all of it in
  // one control block with room to spare for the message around the packages. Each package
  // costs its body and at most 2 length octets.
  static constexpr unsigned kMaxBody = ASN1::MaximumUnfragmentedLength;
  static constexpr unsigned kMaxBatchOctets = Control::Service::max_block - 64;
  static constexpr unsigned kPackageOverhead = 2;

  explicit HdlcSlot(LGCP::HdlcParams const& params);
  ~HdlcSlot() override;

  void OnTrunkStatus(unsigned, ACP::TrunkState::NamedNumber const&) override {}
  bool IActivate(TERM::TermActivateParams const& params) override;
  bool IDeactivate() override;
  // Queues the packages of "hdlcPackages"; true when every one of them was queued (none is
  // while the channel is gone).
  bool Ioctl(LGCP::IoctlParams const& params) override;
  int GetConnectionPriority() override { return 1; }
  bool IHwConnectTransmitter(Slot& sink) override;
  bool IHwConnectReceiver(Slot& source) override;
  bool IHwDisconnectTransmitter(Slot& sink) override;
  bool IHwDisconnectReceiver(Slot& source) override;
  // The channel is up on the peer's TDM channel and the switch carries the connection's routes
  // as the newest of their outputs' wishes.
  bool IHwTransmitterStands(Slot& sink) override;
  bool IHwReceiverStands(Slot& source) override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  const char* GetName() const override { return "hdlc-slot"; }

  void on_hdlc_receive(Packet& frame) override;
  void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
  // Sends queued frames while the channel takes them.
  void on_hdlc_ready() override;

  // "HdlcSlot[<trunk index>/*]: "
  void PutHeader(std::ostream& os) const;

  void OnUpdateTimer();
  void UpdateHDLC_Statistics();
  // Sends the gathered batch (if any) and starts a new one.
  void flushResponce();

  HDLC& channel() { return *hdlc; }
  unsigned queued() const { return sendQueue.count(); }

  Protocol_name_str familyName{"hdlc"};
  std::unique_ptr<HDLC> hdlc;
  LGCP::IoctlResponse pending;
  ASN1::SEQUENCE_OF<LGCP::HdlcPackage>* batch = nullptr;
  uint32_t trunkIndex;
  Timer updateTimer;
  Timer flushTimer;
  CleanQueue<Packet, kQueueLimit> sendQueue;
  uint16_t address;
  uint8_t sendSeq = 0;
  uint8_t receiveSeq = 0;
  // Frames too short to hold address and sequence octet, dropped.
  uint32_t rxShort = 0;
  // Packages lost because the send queue was full.
  uint32_t queueDrops = 0;
  // Frames whose body no signal can carry, dropped.
  uint32_t rxTooLong = 0;
  // Octets the batch's packages take in the signal, by the estimate above.
  unsigned batchOctets = 0;
  // The channel ended under the slot (a read error or hang-up) and no activation has given it
  // a new one: packages are refused, not queued for nothing.
  bool channelGone = false;

 private:
  // Activates the channel: false (and "deactivated") when it could not.
  bool iactivate();
  // Binds the channel to the TDM channel a connection names (out: the connection it feeds) and
  // activates it; a channel serving that TDM channel already takes the connection's routes
  // back instead. False when the connection's path is not there.
  bool bind_channel(int tdm, bool out);
  // A connection other than the one going (a source, a sink) names the channel's TDM channel.
  bool still_named(const Slot* goingSource, const Slot* goingSink) const;
  // Takes the address and sequence octet off a frame of this slot's address and adds the rest
  // to the batch.
  void enqResponce(Packet& frame);
  void new_batch();
  // Sends the batch if it holds anything and starts a new one.
  void sendBatch();
};
