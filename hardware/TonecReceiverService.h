#pragma once
// The process-wide owner of the tone-control device "/dev/dtmf": issues every request of the
// tone receivers and reads the device's event records, handing each to the receiver of its
// timeslot whose detector enable's id it carries. A device that went away is opened again and
// given back each receiver's configuration records and what it holds on; what it refuses stays
// wanted, counts as on, and is put back on a backing-off timer. Per timeslot that no receiver
// holds any more, it keeps what the device may still have on there that the daemon wants off,
// and switches it off: on a backing-off timer, before a new receiver comes, and before any
// request on the timeslot.
#include <cstddef>
#include <cstdint>

#include "hardware/DeviceEventReader.h"
#include "hardware/OwedSwitchOffs.h"

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

  // The settings of a receiver that a device which lost its state is given back, in the order
  // they are put back: configuration records before the switches they govern.
  enum Setting : unsigned {
    kDtmfConfig = 1,
    kIvaConfig = 2,
    kDetector = 4,
    kIva = 8,
    kReject = 16,
    kLms = 32,
    kGenerator = 64,
  };

  bool configureDTMF(TonecReceiver& receiver, const LGCP::DTMFParams& params);
  bool echoCancel(unsigned timeslot, bool on);
  bool enableDTMFReject(unsigned timeslot, bool on);
  bool enableDTMF(TonecReceiver& receiver, bool on);
  bool enableToneGenerator(unsigned timeslot, unsigned short f1, unsigned short f2, unsigned short a1,
                           unsigned short a2);
  bool configureIVA(TonecReceiver& receiver, const LGCP::IVAParams& params);
  bool enableIVA(TonecReceiver& receiver, bool on);
  // The request's result; -1 when the signs are too few or the request failed.
  int translateSelcal(TonecReceiver& receiver, const TERM::SelcalCommand& cmd);
  // A receiver lets its timeslot go: what it still has on there (a switch-off the device could
  // not take) is owed to the timeslot, retried until the device takes it, and carried out
  // before a new receiver comes and before any request on the timeslot; the receiver holds
  // nothing on from then on and takes no events.
  void owe(TonecReceiver& receiver);
  // Timeslots with switch-offs still owed.
  size_t owed() const { return m_owed.size(); }
  // A new receiver is made: what is owed is tried first (its timeslot is not known yet).
  void receiver_coming();
  // The device took these settings (Setting bits) from the receiver. A timeslot holds one value
  // of each, the newest, whichever receiver of it set it: the others' values are gone, neither
  // put back nor undone for them; a switch it turned off is off for them, one it turned on is
  // theirs no more (TonecReceiver's m_elsewhere).
  void made(TonecReceiver& setter, unsigned settings);

 private:
  // The switches (Setting bits) the receiver holds on, the generator aside.
  static unsigned switches_on(const TonecReceiver& r);
  // Issues an on/off request that takes the timeslot by value, with its log lines.
  bool switch_request(unsigned timeslot, uint32_t request, const char* name, const char* suffix, bool quiet = false);
  // "DTMF_CONFIGURE_DETECTOR" (twist, ratio, noise, silence) and "IVA_CONFIGURE_DETECTOR", with
  // their log lines (quiet: no failure line).
  bool configure_detector(unsigned timeslot, const uint32_t (&config)[4], bool quiet);
  bool configure_iva(unsigned timeslot, int level_db, bool quiet);
  // "DTMF_ENABLE_DETECTOR" with the id its events will carry, with its log lines.
  bool enable_detector(unsigned timeslot, uint32_t id, bool quiet = false);
  // "DTMF_DISABLE_DETECTOR" with its log lines (quiet: no failure line).
  bool disable_detector(unsigned timeslot, bool quiet);
  // "DTMF_DIAL" with its failure line (quiet: without it).
  bool dial(unsigned timeslot, const unsigned short (&setting)[4], bool quiet = false);
  void OnRecord(const uint8_t* record) override;
  void OnReopened() override;
  bool settle() override;
  // The configuration records, put back for every receiver before any switch.
  static constexpr unsigned kConfigs = kDtmfConfig | kIvaConfig;
  // Puts back what the receivers have unconfirmed, as far as the device takes it: first every
  // configuration record, then the switches; true when nothing is left. A refusal is logged
  // once per receiver, until all is back (quiet: the retries).
  bool put_back_all(bool quiet);
  // Puts back the receiver's unconfirmed settings among these.
  void put_back(TonecReceiver& receiver, bool quiet, unsigned settings);
  // One timeslot's owed switch-offs, quiet; true when none is left (logged once then).
  bool carry_out_one(unsigned timeslot, unsigned& what);
  // Before a request on a timeslot: its owed switch-offs first.
  void before_request(unsigned timeslot) { m_owed.before_request(timeslot); }
  // A receiver of the timeslot set these features itself: what was owed for them is moot.
  void taken(unsigned timeslot, unsigned what);
  void deliver(uint32_t code, uint32_t timeslot, uint32_t timestamp, uint32_t id);

  // What each owed timeslot still needs switched off.
  enum Owed : unsigned { kOwedGenerator = 1, kOwedDetector = 2, kOwedIva = 4, kOwedReject = 8 };
  OwedSwitchOffs<unsigned> m_owed;
};

}  // namespace Hardware
