#pragma once
// A modem slot on a DSP modem of the modem control device: the modem answers or originates
// a PPP call (pppd on its tty "/dev/mdm<n>") or a fax call (the fax transfer or receiver
// program), and its TDM channel is switched to the call.
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

  bool IOnOutputStream() override { return InitModem(), true; }
  bool IOnInputStream() override { return InitModem(), true; }
  int IGetTransmitChannel() override { return timeslot; }
  int IGetReceiveChannel() override { return timeslot; }
  const char* GetName() const override { return "dsp-modem"; }
  int modem_id() const override { return modem; }
  void unbind() override;

  // Allocates and starts the modem, once.
  void InitModem();
  void RunFaxReceiver();
  void on_fax_terminate(int status);

  Fd device;
  int timeslot = -1;
  int modem = -1;

 private:
  // The modem control request with a block; the error stream gets `what` and strerror.
  bool Control(int fd, uint32_t request, void* block, const char* what);
  bool bound = true;
};
