#pragma once
// The process-wide owner of the DSP-processing device "/dev/dsp": issues every request of the
// DSP receivers and reads the device's event records, handing each to the receiver of its
// timeslot that has the event's feature on (and, for VAD and SD, its id). A device that went
// away is opened again and given back each receiver's configuration records and what it holds
// on; what it refuses stays wanted, counts as on, and is put back on a backing-off timer. Per
// timeslot that no receiver holds any more, it keeps what the device may still have on there
// that the daemon wants off, and switches it off: on a backing-off timer, before a new receiver
// comes, and before any request on the timeslot.
#include <cstddef>
#include <cstdint>

#include "hardware/DSProcReceiver.h"
#include "hardware/DeviceEventReader.h"
#include "hardware/OwedSwitchOffs.h"

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

  // The settings of a receiver that a device which lost its state is given back, in the order
  // they are put back: configuration records before the switches.
  enum Setting : uint32_t {
    kVadConfig = 1,
    kSdConfig = 2,
    kToneFilterConfig = 4,
    kDelaysConfig = 8,
    kRxGainConfig = 16,
    kVadOn = 32,
    kSdOn = 64,
    kBssOn = 128,
    kNgOn = 256,
    kMuteOn = 512,
  };

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
  // not take) is owed to the timeslot, retried until the device takes it, and carried out
  // before a new receiver comes and before any request on the timeslot; the receiver holds
  // nothing on from then on and takes no events.
  void owe(DSProcReceiver& receiver);
  // Timeslots with switch-offs still owed.
  size_t owed() const { return m_owed.size(); }
  // A new receiver is made: what is owed is tried first (its timeslot is not known yet).
  void receiver_coming();

 private:
  // The device took these settings (Setting bits) from the receiver. A timeslot holds one value
  // of each, the newest, whichever receiver of it set it: the others' values are gone, neither
  // put back nor undone for them; a switch it turned off is off for them, one it turned on is
  // theirs no more (DSProcReceiver's m_elsewhere).
  void made(DSProcReceiver& setter, uint32_t settings);
  // The switches (Setting bits) the receiver holds on.
  static uint32_t switches_on(const DSProcReceiver& r);
  // Issues DSPROC_CONFIGURE with its failure line (quiet: without it).
  bool configure(unsigned timeslot, uint32_t what, const uint8_t (&payload)[12], const char* fail_text,
                 bool quiet = false);
  // The enable/disable rule of VAD, SD, BSS and NG (setting: the feature's Setting bit).
  bool enable(DSProcReceiver& receiver, DSProcReceiver::Feature& feature, uint32_t mask, uint32_t setting,
              const char* name, bool on);
  // Issues DSPROC_ENABLE with its log lines (quiet: no failure line).
  bool enable_request(unsigned timeslot, uint32_t id, uint32_t mask, const char* name, bool quiet = false);
  // The configuration records, put back for every receiver before any switch.
  static constexpr uint32_t kConfigs = kVadConfig | kSdConfig | kToneFilterConfig | kDelaysConfig | kRxGainConfig;
  // Puts back what the receivers have unconfirmed, as far as the device takes it: first every
  // configuration record, then the switches; true when nothing is left. A refusal is logged
  // once per receiver, until all is back (quiet: the retries).
  bool put_back_all(bool quiet);
  // Puts back the receiver's unconfirmed settings among these.
  void put_back(DSProcReceiver& receiver, bool quiet, uint32_t settings);
  // The tone filter of this frequency, or every one (all), is the setter's now: the other
  // receivers of the timeslot drop theirs.
  void made_tone_filter(DSProcReceiver& setter, uint16_t frequency, bool all);
  // Does the receiver take an event of this type and id (its feature on, the id its enable's)?
  static bool takes(const DSProcReceiver& receiver, uint32_t type, uint32_t id);
  void OnRecord(const uint8_t* record) override;
  void OnReopened() override;
  bool settle() override;
  // Before a request on a timeslot: its owed switch-offs first.
  void before_request(unsigned timeslot) { m_owed.before_request(timeslot); }

  // What each owed timeslot still needs: the features to disable (device mask bits) and
  // whether its delays and gain are to be set back to 0.
  struct Owed {
    uint32_t disable = 0;
    bool delays = false;
    bool rxGain = false;
    Owed& operator|=(const Owed& more) {
      disable |= more.disable;
      delays = delays || more.delays;
      rxGain = rxGain || more.rxGain;
      return *this;
    }
    bool operator==(const Owed&) const = default;
  };
  OwedSwitchOffs<Owed> m_owed;
  // One timeslot's owed work, quiet; true when none is left (logged once then).
  bool carry_out_one(unsigned timeslot, Owed& what);
  // A receiver of the timeslot set these itself: what was owed for them is moot.
  void taken(unsigned timeslot, uint32_t disable, bool delays = false, bool rxGain = false);
};

}  // namespace Hardware
