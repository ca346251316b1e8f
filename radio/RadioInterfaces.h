#pragma once
// The three interfaces through which a radio RTP slot and its radio controller meet: what the
// slot calls, what the event loop calls, and what the controller reports back to the slot.
namespace TERM {
class RadioStatus;
class RadioModifier;
class RtpRadioRequest;
}  // namespace TERM

namespace RTPSignalling {

// What the slot calls: radio status and commands from the call controller, squelch state.
class IRadioController {
 public:
  virtual ~IRadioController() = default;
  virtual bool SendASNToChan(TERM::RadioStatus const&) { return false; }
  virtual bool SendASNToChan(TERM::RadioModifier const&) { return false; }
  virtual bool GetSQU() { return false; }
};

// What the event loop calls: the extension device turned readable, the status tick.
class IRadioIntController {
 public:
  virtual ~IRadioIntController() = default;
  virtual void OnRtpExtEvent(int /*fd*/, short /*revents*/) {}
  // Returns the wait until the next tick.
  virtual unsigned long ProcessRadioStatus(unsigned long /*now_ms*/, unsigned long interval_ms) { return interval_ms; }
};

// What the controller reports to its slot: a radio request for the call controller (false when
// it did not reach the controller), a failure code (a lost keep-alive) that aborts the slot, or
// the squelch for the slot's receive path.
class IRadioControlNotify {
 public:
  virtual ~IRadioControlNotify() = default;
  virtual bool RadioControlNotify(TERM::RtpRadioRequest const&) { return false; }
  virtual void RadioControlNotify(int /*code*/) {}
  // The radio's squelch as the controller holds it: a slot whose receive path follows the
  // squelch opens or closes it. False while the device refuses, so that it is asked again.
  virtual bool RadioControlGate(bool /*squelch_open*/) { return true; }
};

}  // namespace RTPSignalling
