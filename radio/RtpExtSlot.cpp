#include "radio/RtpExtSlot.h"

#include "board/board.h"
#include "board/rtp.h"

RtpExtSlot::RtpExtSlot(int channel, int device, rtp_connection_params const& params) : RtpSlot(channel, device, params) {}

RtpExtSlot::~RtpExtSlot() {
  if (!controller_) return;
  controller_->SetNotify(nullptr);
  controller_->SetTimerEnable(false);
  controller_.reset();
}

void RtpExtSlot::Adopt(RTPSignalling::RadioControl* controller, uint32_t side) {
  controller_.reset(controller);
  controller->SetNotify(this);
  controller->SetTrace(false);
  controller->SetSide(side);
}

void RtpExtSlot::IAfterCreate() {
  RtpSlot::IAfterCreate();
  if (controller_) controller_->SendASNToChan(radioStatus);
}

bool RtpExtSlot::IBeforeDestroy() {
  if (controller_) controller_->RtpExtStop();
  RtpSlot::IBeforeDestroy();
  return true;
}

bool RtpExtSlot::Ioctl(LGCP::IoctlParams const& p) {
  if (!controller_ || channelLost) return RtpSlot::Ioctl(p);
  // What the device refused or lost since is made first, so that the command meets a session.
  controller_->Reconcile();
  bool result;
  switch (p.getID()) {
    case LGCP::IoctlParams::e_rtpExt: result = controller_->SendASNToChan(p.get_rtpExt()); break;
    case LGCP::IoctlParams::e_encoder_mode:
    case LGCP::IoctlParams::e_decoder_mode: {
      // A codec change may begin a new RTP session: the extension session follows it. A
      // controller that joined through the session's descriptor lets go of it first, so that
      // the old session ends and frees its channel, and attaches through the new one.
      const bool stopped = controller_->RtpExtStop();
      const bool joined = controller_->type() == RTPSignalling::AttachRtpSession;
      if (joined) controller_->SetRtpDevice(Fd());
      result = RtpSlot::Ioctl(p);
      if (joined) controller_->SetRtpDevice(DeviceCopy());
      // An own extension session attaches to the session's new descriptor.
      if (controller_->type() == RTPSignalling::AttachExtSession) controller_->SetAttachDevice(device.get());
      // A made change answers with the new session's start; one the device does not serve now
      // is still made, quietly, on the controller's reconcile timer.
      if (stopped && !channelLost) {
        const bool started = controller_->RtpExtStart(false);
        result = result && started;
      }
      break;
    }
    default: result = RtpSlot::Ioctl(p); break;
  }
  controller_->FollowSquelch();
  return result;
}

bool RtpExtSlot::RadioControlGate(bool open) {
  if (!radioInput || channelLost) return true;
  // The receive path is what the device confirmed: a refused start or stop leaves it as it was.
  if (open && !inputStarted) {
    if (board::ioctl(device.get(), board::rtp::RTP_START_RX, nullptr) < 0) return false;
    inputStarted = true;
  } else if (!open && inputStarted) {
    if (board::ioctl(device.get(), board::rtp::RTP_STOP_RX, nullptr) < 0) return false;
    inputStarted = false;
  }
  return true;
}
