#pragma once
// The process-wide owner of the tone-control device "/dev/dtmf": issues every request of the
// tone receivers and reads the device's event records, handing each to the receiver of its
// timeslot whose detector enable's id it carries. Several receivers may share a timeslot (the
// ports of a mixer channel): per timeslot and setting it keeps each live receiver's wish and what
// the device confirmed, and brings the device to the newest wish, or, when no live receiver wants
// the setting, to what the receivers' clean-up leaves. A device that went away is opened again
// and given back what the live receivers hold; what the device refuses is retried on a
// backing-off timer, before a new receiver comes and before any request on the timeslot.
#include <array>
#include <cstddef>
#include <cstdint>

#include "hardware/DeviceEventReader.h"
#include "hardware/SharedSetting.h"
#include "hardware/TimeslotBook.h"

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

  // The settings of a timeslot, in the order a device that lost them is given them back:
  // configuration records before the switches they govern.
  enum Setting : unsigned {
    kDtmfConfig = 1,
    kIvaConfig = 2,
    kDetector = 4,
    kIva = 8,
    kReject = 16,
    kLms = 32,
    kGenerator = 64,
  };

  using Generator = std::array<unsigned short, 4>;  // f1, f2, a1, a2; all 0: off

  // What the receivers of one timeslot share on the device.
  struct Settings {
    SharedSetting<std::array<uint32_t, 4>> dtmfConfig{std::nullopt, Unwished::as_is, Fresh::unset};  // twist, ratio, noise, silence
    SharedSetting<int> ivaConfig{std::nullopt, Unwished::as_is, Fresh::unset};  // dB
    SharedSetting<Enable> detector{Enable{}, Unwished::to_rest, Fresh::at_rest};
    SharedSetting<bool> iva{false, Unwished::to_rest, Fresh::at_rest};
    SharedSetting<bool> reject{false, Unwished::to_rest, Fresh::at_rest};
    // The Parts leave the echo canceller as it is when its receiver goes.
    SharedSetting<bool> lms{false, Unwished::as_is, Fresh::unset};
    SharedSetting<Generator> generator{Generator{}, Unwished::to_rest, Fresh::at_rest};
    Notes notes;

    template <class S, class F>
    static void visit(S& s, F f) {
      f(s.dtmfConfig);
      f(s.ivaConfig);
      f(s.detector);
      f(s.iva);
      f(s.reject);
      f(s.lms);
      f(s.generator);
    }
  };

  bool configureDTMF(TonecReceiver& receiver, const LGCP::DTMFParams& params);
  bool echoCancel(TonecReceiver& receiver, bool on);
  bool enableDTMFReject(TonecReceiver& receiver, bool on);
  bool enableDTMF(TonecReceiver& receiver, bool on);
  bool enableToneGenerator(TonecReceiver& receiver, unsigned short f1, unsigned short f2, unsigned short a1,
                           unsigned short a2);
  bool configureIVA(TonecReceiver& receiver, const LGCP::IVAParams& params);
  bool enableIVA(TonecReceiver& receiver, bool on);
  // The request's result; -1 when the signs are too few or the request failed.
  int translateSelcal(TonecReceiver& receiver, const TERM::SelcalCommand& cmd);
  // The receiver lets its timeslot go: its wishes drop out, the device is brought to what the
  // others want now, and it takes no events from then on.
  void leave(TonecReceiver& receiver);
  // A receiver destroyed without letting its timeslot go: its wishes drop out, and nothing is
  // asked of the device for a timeslot left without any.
  void forget(TonecReceiver& receiver);
  // Timeslots with a switch-off still owed.
  size_t owed() const { return m_book.owed(); }
  // A new receiver is made: what is owed is tried first (its timeslot is not known yet).
  void receiver_coming();
  // The timeslot's settings as they stand.
  const Settings& settings(unsigned timeslot) const { return m_book.view(timeslot); }
  // See TonecReceiver::unconfirmed.
  unsigned unconfirmed(const TonecReceiver& receiver) const;

 private:
  // Issues an on/off request that takes the timeslot by value, with its log lines.
  bool switch_request(unsigned timeslot, uint32_t request, const char* name, const char* suffix, bool quiet = false);
  bool switch_iva(unsigned timeslot, bool on, bool quiet);
  bool switch_reject(unsigned timeslot, bool on, bool quiet);
  bool switch_lms(unsigned timeslot, bool on, bool quiet);
  // "DTMF_CONFIGURE_DETECTOR" (twist, ratio, noise, silence) and "IVA_CONFIGURE_DETECTOR", with
  // their log lines (quiet: no failure line).
  bool configure_detector(unsigned timeslot, const std::array<uint32_t, 4>& config, bool quiet);
  bool configure_iva(unsigned timeslot, int level_db, bool quiet);
  // "DTMF_ENABLE_DETECTOR" with the id its events will carry, or "DTMF_DISABLE_DETECTOR", with
  // their log lines.
  bool enable_detector(unsigned timeslot, uint32_t id, bool quiet);
  bool disable_detector(unsigned timeslot, bool quiet);
  bool switch_detector(unsigned timeslot, const Enable& to, bool quiet);
  // "DTMF_DIAL" with its failure line (quiet: without it).
  bool dial(unsigned timeslot, const Generator& setting, bool quiet);
  // The device took value for the receiver's setting: its wish, the newest.
  template <class Value>
  void took(TonecReceiver& receiver, SharedSetting<Value> Settings::*setting, const Value& value);
  // Before a request on a timeslot: the device brought to what its receivers want.
  void before_request(unsigned timeslot) { m_book.settle(timeslot, true); }
  // One timeslot's pass: what no live receiver wants is switched off, in the order of the clean-up,
  // then what the live receivers want is set, configuration records first.
  void settle_one(unsigned timeslot, Settings& settings, bool quiet);
  void OnRecord(const uint8_t* record) override;
  void OnReopened() override;
  bool settle() override;
  void deliver(uint32_t code, uint32_t timeslot, uint32_t timestamp, uint32_t id);

  TimeslotBook<Settings> m_book;
};

}  // namespace Hardware
