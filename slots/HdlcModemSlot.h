#pragma once
// A modem slot for a digital call on a synchronous HDLC network interface ("hdlc<n>"): the
// interface is switched to PPP and pppd runs on it; destruction returns it to raw HDLC.
#include <string>

#include "slots/ModemSlot.h"

class HdlcModemSlot : public ModemSlot {
 public:
  static constexpr const char* kOptions = "/usr/local/etc/ppp/ioptions";
  // The interface-settings buffer of the settings query.
  static constexpr unsigned kIfaceBufferSize = 128;

  HdlcModemSlot(TERM::ModemParams const& params, std::string ifname, ModemFactory* factory)
      : ModemSlot(params, factory), ifname(std::move(ifname)) {}
  ~HdlcModemSlot() override;

  // A stream only once the interface's channel is known.
  bool IOnOutputStream() override { return initModem(), channel >= 0; }
  bool IOnInputStream() override { return initModem(), channel >= 0; }
  int IGetTransmitChannel() override { return channel; }
  int IGetReceiveChannel() override { return channel; }
  const char* GetName() const override { return "digital-modem"; }
  int modem_id() const override { return -1; }
  void unbind() override;

  // Reads the interface's channel, switches it to PPP and starts pppd, once.
  void initModem();

  int channel = -1;
  std::string ifname;

 private:
  bool bound = true;
};
