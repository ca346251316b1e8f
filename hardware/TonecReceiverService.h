#pragma once
// The process-wide owner of the tone-control device "/dev/dtmf": issues every request of the
// tone receivers and reads the device's event records, handing each to the receiver of its
// timeslot whose detector enable's id it carries. A device that went away is opened again and
// given back what the receivers hold on.
#include <cstddef>
#include <cstdint>

#include "hardware/DeviceEventReader.h"

namespace LGCP {
class DTMFParams;
class IVAParams;
}  // namespace LGCP
namespace TERM {
class SelcalCommand;
}

namespace Hardware {

class TonecReceiver;

class TonecReceiverService : public DeviceEventReader {
 public:
  static constexpr size_t kRecordSize = 16;
  static constexpr unsigned short kSelcalAmplitude = 12000;  // without amp

  // Constructed, and the device opened, at the first call.
  static TonecReceiverService* instance();

  TonecReceiverService();

  bool configureDTMF(unsigned timeslot, const LGCP::DTMFParams& params);
  bool echoCancel(unsigned timeslot, bool on);
  bool enableDTMFReject(unsigned timeslot, bool on);
  bool enableDTMF(TonecReceiver& receiver, bool on);
  bool enableToneGenerator(unsigned timeslot, unsigned short f1, unsigned short f2, unsigned short a1,
                           unsigned short a2);
  bool configureIVA(TonecReceiver& receiver, const LGCP::IVAParams& params);
  bool enableIVA(TonecReceiver& receiver, bool on);
  // The request's result; -1 when the signs are too few or the request failed.
  int translateSelcal(TonecReceiver& receiver, const TERM::SelcalCommand& cmd);

 private:
  // Issues an on/off request that takes the timeslot by value, with its log lines.
  bool switch_request(unsigned timeslot, uint32_t request, const char* name, const char* suffix);
  // "DTMF_ENABLE_DETECTOR" with the id its events will carry, with its log lines.
  bool enable_detector(unsigned timeslot, uint32_t id);
  void OnRecord(const uint8_t* record) override;
  void OnReopened() override;
  void deliver(uint32_t code, uint32_t timeslot, uint32_t timestamp, uint32_t id);
};

}  // namespace Hardware
