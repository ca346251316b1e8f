#pragma once
// An RTP media slot that also owns a radio controller, which exchanges radio signalling in the
// RTP header extension of the slot's session. The slot sends the controller's radio requests
// as "rtpExt" signals and its keep-alive failures as "abort", hands radio commands from the
// controller's ioctls down to it, keeps the extension session attached across codec changes,
// and, with radioInput set, lets the receive path run only while the radio's squelch is open.
#include <memory>

#include "asn1/schemas/TERM.h"
#include "radio/RadioControl.h"
#include "radio/RadioInterfaces.h"
#include "slots/RtpSlot.h"

class RtpExtSlot : public RtpSlot, public RTPSignalling::IRadioControlNotify {
 public:
  RtpExtSlot(int channel, int device, rtp_connection_params const& params);
  // Retires the controller: no more reports, no more ticks.
  ~RtpExtSlot() override;

  // The RTP slot's start, then the initial radio status to the controller.
  void IAfterCreate() override;
  // Detaches the extension session, then ends the RTP session.
  bool IBeforeDestroy() override;
  bool Ioctl(LGCP::IoctlParams const& params) override;
  const char* GetName() const override { return "rtp ext"; }

  bool RadioControlNotify(TERM::RtpRadioRequest const& request) override { return OnRtpRadioEvent(request); }
  void RadioControlNotify(int code) override { OnAbort(code); }
  // With radioInput set, starts or stops the receive path as the squelch says; false while the
  // device refused, so that the controller asks again.
  bool RadioControlGate(bool squelch_open) override;

  RTPSignalling::RadioControl* controller() const { return controller_.get(); }
  // The status the create command gave, sent to the controller once the create is answered.
  TERM::RadioStatus radioStatus;

 protected:
  // Takes the dialect's controller: this slot hears its reports; tracing off; gateway side 0,
  // workstation side 1.
  void Adopt(RTPSignalling::RadioControl* controller, uint32_t side);
  // A duplicate of the session's device descriptor for a controller that attaches through it.
  Fd DeviceCopy() const { return Fd(device.dup()); }
  // The attach block naming this slot's own device descriptor, which lives as long as the
  // session (the factory's closes once the slot is made).
  RTPSignalling::rtp_ext_attach_session_params OwnDevice(RTPSignalling::rtp_ext_attach_session_params attach) const {
    attach.fd_rtp = device.get();
    return attach;
  }

 private:
  std::unique_ptr<RTPSignalling::RadioControl> controller_;
};
