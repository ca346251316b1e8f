#pragma once
// A modem slot on a DSP modem of the modem control device: the modem answers or originates
// a PPP call (pppd on its tty "/dev/mdm<n>") or a fax call (the fax transfer or receiver
// program), and its TDM channel is switched to the call.
#include "foundation/Event.h"
#include "foundation/Fd.h"
#include "slots/ModemSlot.h"

class DspModemSlot : public ModemSlot {
 public:
  static constexpr const char* kAnswerOptions = "/usr/local/etc/ppp/aoptions";
  static constexpr const char* kOriginateOptions = "/usr/local/etc/ppp/coptions";
  static constexpr const char* kFaxTransfer = "/usr/local/sbin/fax";
  static constexpr const char* kFaxReceiver = "/usr/local/bin/fax";

  DspModemSlot(TERM::ModemParams const& params, ModemFactory* factory) : ModemSlot(params, factory) {}
  ~DspModemSlot() override;

  // A stream only when the start left the slot holding a modem: a slot without one has no
  // channel to report, and a later start that gets a modem signals its own.
  bool IOnOutputStream() override { return InitModem(), IGetTransmitChannel() >= 0; }
  bool IOnInputStream() override { return InitModem(), IGetReceiveChannel() >= 0; }
  int IGetTransmitChannel() override { return held(timeslot); }
  int IGetReceiveChannel() override { return held(timeslot); }
  const char* GetName() const override { return "dsp-modem"; }
  int modem_id() const override { return modem; }
  // A slot holds its modem's session from the allocation until the modem is handed to a fax
  // program or taken back by the board. Before and after, its session number is no call's or
  // another call's: no record reaches it and it sends none.
  bool holds_session() const override { return modem >= 0 && !handedOver && !channelLost; }
  void unbind() override;

  // Allocates and starts the modem, once.
  void InitModem();
  // The device is closed before a fax program starts on the modem.
  void HandOver();
  void RunFaxReceiver();
  void on_fax_terminate(int status);
  // The board took the modem back (a device reset) or gave it to another slot: the slot loses
  // its channel and session at once. One that still had the modem is aborted and its pppd hung
  // up; a fax program that has it reports its own end.
  void ModemGone(const char* why);
  // The device's watch: only a hang-up or an error is asked for.
  void OnDeviceEvent(int, short revents);

  Fd device;
  Event deviceEvent;
  int timeslot = -1;
  int modem = -1;
  // The device was closed for a fax program, which has the modem from then on: the board may
  // allocate it again. The slot keeps its timeslot's paths for the fax while it runs and
  // loses them when the fax ends or another slot is given the modem.
  bool handedOver = false;

 private:
  // The modem control request with a block; the error stream gets `what` and strerror.
  bool Control(int fd, uint32_t request, void* block, const char* what);
  bool bound = true;
};
