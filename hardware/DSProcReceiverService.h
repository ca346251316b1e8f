#pragma once
// The process-wide owner of the DSP-processing device "/dev/dsp": issues every request of the
// DSP receivers and reads the device's event records, handing each to the receiver of its
// timeslot that has the event's feature on (and, for VAD and SD, its id). A device that went
// away is opened again and given back what the receivers hold on.
#include <cstddef>
#include <cstdint>
#include <map>

#include "hardware/DSProcReceiver.h"
#include "hardware/DeviceEventReader.h"

namespace LGCP {
class VADParams;
}

namespace Hardware {

class DSProcReceiverService : public DeviceEventReader {
 public:
  static constexpr size_t kRecordSize = 24;

  // Constructed, and the device opened, at the first call.
  static DSProcReceiverService* instance();

  DSProcReceiverService();

  bool configureVAD(DSProcReceiver& receiver, const LGCP::VADParams& params);
  bool configureSD(DSProcReceiver& receiver);
  bool configureDelays(DSProcReceiver& receiver, unsigned rx, unsigned tx, unsigned selcal);
  bool configureRxGain(DSProcReceiver& receiver, char gain);
  bool configureToneFilter(DSProcReceiver& receiver, unsigned freq, unsigned enable, int duration, int level);
  bool enableVAD(DSProcReceiver& receiver, bool on);
  bool enableSD(DSProcReceiver& receiver, bool on);
  bool enableBSS(DSProcReceiver& receiver, bool on);
  bool enableNG(DSProcReceiver& receiver, bool on);
  bool enableMute(DSProcReceiver& receiver, bool first, bool second);
  bool disableToneAll(DSProcReceiver& receiver);
  // A receiver lets its timeslot go: what it still has on there (a switch-off the device could
  // not take) is owed to the timeslot and carried out when the device returns, before the live
  // receivers are restored; the receiver itself holds nothing on from then on.
  void owe(DSProcReceiver& receiver);
  // Timeslots with switch-offs still owed.
  size_t owed() const { return m_owed.size(); }

 private:
  // Issues DSPROC_CONFIGURE with its log lines.
  bool configure(unsigned timeslot, uint32_t what, const uint8_t (&payload)[12], const char* fail_text);
  // The enable/disable rule of VAD, SD, BSS and NG.
  bool enable(DSProcReceiver& receiver, DSProcReceiver::Feature& feature, uint32_t mask, const char* name, bool on);
  // Issues DSPROC_ENABLE with its log lines.
  bool enable_request(unsigned timeslot, uint32_t id, uint32_t mask, const char* name);
  // Switches a feature that is on again with its id; unset when that fails.
  void restore(DSProcReceiver& receiver, DSProcReceiver::Feature& feature, uint32_t mask, const char* name);
  // Does the receiver take an event of this type and id (its feature on, the id its enable's)?
  static bool takes(const DSProcReceiver& receiver, uint32_t type, uint32_t id);
  void OnRecord(const uint8_t* record) override;
  void OnReopened() override;
  // The owed switch-offs; those the device refuses stay owed.
  void carry_out_owed();

  // What each owed timeslot still needs: the features to disable (device mask bits) and
  // whether its delays and gain are to be set back to 0.
  struct Owed {
    uint32_t disable = 0;
    bool delays = false;
    bool rxGain = false;
  };
  std::map<unsigned, Owed> m_owed;
};

}  // namespace Hardware
