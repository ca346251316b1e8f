#pragma once
// The process-wide owner of the DSP-processing device "/dev/dsp": issues every request of the
// DSP receivers and reads the device's event records, handing each to the receiver of its
// timeslot whose wish the event answers (its enable's id; the tone filter of its frequency).
// Several receivers may share a timeslot (the ports of a mixer channel): per timeslot and setting
// (each tone filter by its frequency) it keeps each live receiver's wish and what the device
// confirmed, and brings the device to the newest wish, or, when no live receiver wants the
// setting, to what the receivers' clean-up leaves. A device that went away is opened again and
// given back what the live receivers hold; what the device refuses is retried on a backing-off
// timer, before a new receiver comes and before any request on the timeslot.
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>

#include "hardware/DSProcReceiver.h"
#include "hardware/DeviceEventReader.h"
#include "hardware/SharedSetting.h"
#include "hardware/TimeslotBook.h"

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

  // The settings of a timeslot, in the order a device that lost them is given them back:
  // configuration records before the switches.
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

  using Payload = std::array<uint8_t, 12>;
  using Delays = std::array<unsigned, 3>;  // rx, tx, selcal
  // One frequency's tone filter as the device takes it; an enable byte of 0 is no filter.
  struct ToneFilter {
    uint8_t enable = 0;
    uint16_t duration_msec = 0;
    int8_t level_db = 0;
    bool operator==(const ToneFilter& o) const {
      return enable == o.enable && (enable == 0 || (duration_msec == o.duration_msec && level_db == o.level_db));
    }
  };

  // What the receivers of one timeslot share on the device.
  struct Settings {
    SharedSetting<Payload> vadConfig{std::nullopt, Unwished::as_is, Fresh::unset};
    SharedSetting<bool> sdConfig{std::nullopt, Unwished::as_is, Fresh::unset};
    std::map<uint16_t, SharedSetting<ToneFilter>> toneFilters;  // by the frequency the device knows
    SharedSetting<Delays> delays{Delays{}, Unwished::to_rest, Fresh::at_rest};
    SharedSetting<int8_t> rxGain{int8_t{0}, Unwished::to_rest, Fresh::at_rest};
    SharedSetting<Enable> vad{Enable{}, Unwished::to_rest, Fresh::unset};
    // The Parts leave SD and mute as they are when their receiver goes.
    SharedSetting<Enable> sd{Enable{}, Unwished::as_is, Fresh::unset};
    SharedSetting<Enable> bss{Enable{}, Unwished::to_rest, Fresh::at_rest};
    SharedSetting<Enable> ng{Enable{}, Unwished::to_rest, Fresh::at_rest};
    SharedSetting<Enable> mute{Enable{}, Unwished::as_is, Fresh::unset};
    // A receiver left and no live one has a tone filter on: every filter is switched off at once,
    // as the clean-up does, whether or not one is known to be on.
    bool sweepToneFilters = false;
    Notes notes;

    template <class S, class F>
    static void visit(S& s, F f) {
      f(s.vadConfig);
      f(s.sdConfig);
      for (auto& entry : s.toneFilters) f(entry.second);
      f(s.delays);
      f(s.rxGain);
      f(s.vad);
      f(s.sd);
      f(s.bss);
      f(s.ng);
      f(s.mute);
    }
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
  // The receiver lets its timeslot go: its wishes drop out, the device is brought to what the
  // others want now, and it takes no events from then on.
  void leave(DSProcReceiver& receiver);
  // A receiver destroyed without letting its timeslot go: its wishes drop out, and nothing is
  // asked of the device for a timeslot left without any.
  void forget(DSProcReceiver& receiver);
  // Timeslots with a switch-off still owed.
  size_t owed() const { return m_book.owed(); }
  // A new receiver is made: what is owed is tried first (its timeslot is not known yet).
  void receiver_coming();
  // The timeslot's settings as they stand.
  const Settings& settings(unsigned timeslot) const { return m_book.view(timeslot); }
  // See DSProcReceiver::unconfirmed.
  uint32_t unconfirmed(const DSProcReceiver& receiver) const;

 private:
  // Issues DSPROC_CONFIGURE with its failure line (quiet: without it).
  bool configure(unsigned timeslot, uint32_t what, const Payload& payload, const char* fail_text, bool quiet);
  // The configuration records with their log lines; delays, gain and the filters' switch-off
  // first open a closed device, or say why not (quiet: neither that nor a failure line).
  bool configure_vad(unsigned timeslot, const Payload& payload, bool quiet);
  bool configure_sd(unsigned timeslot, bool quiet);
  bool configure_delays(unsigned timeslot, const Delays& delays, bool quiet);
  bool configure_rx_gain(unsigned timeslot, int8_t gain, bool quiet);
  bool configure_tone_filter(unsigned timeslot, unsigned freq, unsigned enable, int duration, int level, bool quiet);
  bool disable_tone_filters(unsigned timeslot, bool quiet);
  // DSPROC_ENABLE with the target's id and bits, or DSPROC_DISABLE of every bit of the feature
  // (all), with their log lines.
  bool switch_feature(unsigned timeslot, const Enable& to, uint32_t all, const char* name, bool quiet);
  // The enable/disable rule of VAD, SD, BSS, NG and mute: the feature's device bits become want
  // (0: off; all: every bit of the feature).
  bool enable(DSProcReceiver& receiver, SharedSetting<Enable> Settings::*feature, uint32_t want, uint32_t all,
              const char* name);
  // The device took value for the receiver's setting: its wish, the newest.
  template <class Value>
  void took(DSProcReceiver& receiver, SharedSetting<Value>& setting, const Value& value);
  // Before a request on a timeslot: the device brought to what its receivers want.
  void before_request(unsigned timeslot) { m_book.settle(timeslot, true); }
  // One timeslot's pass: what no live receiver wants is switched off, in the order of the clean-up,
  // then what the live receivers want is set, configuration records first.
  void settle_one(unsigned timeslot, Settings& settings, bool quiet);
  // The tone filters no live receiver wants, switched off: all at once while no live receiver has
  // one on, else one by one.
  void settle_unwanted_tone_filters(unsigned timeslot, Settings& settings, bool quiet);
  // The newest wish has the filter on; some live receiver wishes it on.
  static bool held_on(const SharedSetting<ToneFilter>& filter);
  static bool filter_on(const SharedSetting<ToneFilter>& filter);
  // The receiver of the timeslot that an event of this type and id is for, or null.
  DSProcReceiver* receiver_of(unsigned timeslot, uint32_t type, uint32_t id, const uint8_t* payload) const;
  void OnRecord(const uint8_t* record) override;
  void OnReopened() override;
  bool settle() override;

  TimeslotBook<Settings> m_book;
};

}  // namespace Hardware
