#include "hardware/DSProcReceiverService.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <type_traits>

#include "asn1/schemas/LGCP.h"
#include "asn1/schemas/TERM.h"
#include "board/board.h"
#include "board/dsp.h"
#include "foundation/Hex.h"
#include "foundation/Traces.h"
#include "hardware/DevNames.h"

namespace Hardware {

namespace {

namespace dsp = board::dsp;
using Payload = DSProcReceiverService::Payload;
static_assert(sizeof(dsp::ProcEvent) == DSProcReceiverService::kRecordSize);
static_assert(DSProcReceiverService::kRecordSize <= DeviceEventReader::kMaxRecordSize);

constexpr unsigned kVadVersion2 = 2;
constexpr uint32_t kMute = dsp::kMuteFirst | dsp::kMuteSecond;

std::ostream& put_errno(std::ostream& os, int error) {
  return os << " errno=" << ext::quoted(std::strerror(error));
}

template <typename P>
Payload payload_of(const P& p) {
  static_assert(sizeof(P) == sizeof(Payload));
  Payload payload;
  std::memcpy(payload.data(), static_cast<const void*>(&p), payload.size());
  return payload;
}

template <typename P>
P from_payload(const uint8_t* payload) {
  P p;
  std::memcpy(static_cast<void*>(&p), payload, sizeof p);
  return p;
}

}  // namespace

DSProcReceiverService* DSProcReceiverService::instance() {
  static DSProcReceiverService* service = new DSProcReceiverService;  // lives as long as the process
  return service;
}

DSProcReceiverService::DSProcReceiverService()
    : DeviceEventReader({GetDSPDevName, kRecordSize, "dsproc", "open dsproc fail, VAD proceeding disabled: ",
                         "DSProcReceiverService::OnEvent"}),
      m_book([this](unsigned timeslot, Settings& s, bool quiet) { settle_one(timeslot, s, quiet); },
             [this] { settle_later(); }) {}

template <class Value>
void DSProcReceiverService::took(DSProcReceiver& receiver, SharedSetting<Value>& setting, const Value& value) {
  m_book.took(receiver.dsproc_timeslot(), setting, &receiver, !receiver.m_node.empty(), value);
}

bool DSProcReceiverService::configure(unsigned timeslot, uint32_t what, const Payload& payload, const char* fail_text,
                                      bool quiet) {
  dsp::Configure r;
  r.timeslot = timeslot;
  r.what = what;
  std::memcpy(r.payload, payload.data(), sizeof r.payload);
  if (request(dsp::DSPROC_CONFIGURE, &r) < 0) {
    int error = errno;
    if (!quiet) put_errno(std::cerr << fail_text << " timeslot=" << timeslot, error) << std::endl;
    return false;
  }
  return true;
}

bool DSProcReceiverService::configure_vad(unsigned timeslot, const Payload& payload, bool quiet) {
  if (!configure(timeslot, dsp::kConfigureVad, payload, "DSPROC_CONFIGURE VAD fail:", quiet)) return false;
  std::clog << "DSPROC_CONFIGURE VAD" << " ts=" << timeslot << std::endl;
  return true;
}

bool DSProcReceiverService::configure_sd(unsigned timeslot, bool quiet) {
  if (!configure(timeslot, dsp::kConfigureSd, Payload{}, "DSPROC_CONFIGURE SD fail:", quiet)) return false;
  std::clog << "DSPROC_CONFIGURE SD" << " ts=" << timeslot << std::endl;
  return true;
}

bool DSProcReceiverService::configure_delays(unsigned timeslot, const Delays& delays, bool quiet) {
  if (!quiet && !opened("configure Delays", timeslot)) return false;
  dsp::DelaysPayload p;
  p.rx = delays[0];
  p.tx = delays[1];
  p.selcal = delays[2];
  if (!configure(timeslot, dsp::kConfigureDelays, payload_of(p), "DSPROC_CONFIGURE DELAYS fail:", quiet)) return false;
  std::clog << "DSPROC_CONFIGURE DELAYS" << " ts=" << timeslot << " rx=" << delays[0] << " tx=" << delays[1]
            << " selcal=" << delays[2] << std::endl;
  return true;
}

bool DSProcReceiverService::configure_rx_gain(unsigned timeslot, int8_t gain, bool quiet) {
  if (!quiet && !opened("Configure Rx gain", timeslot)) return false;
  dsp::RxGainPayload p;
  p.gain_db = gain;
  if (!configure(timeslot, dsp::kConfigureRxGain, payload_of(p), "DSPROC_CONFIGURE Rx Gain fail:", quiet)) return false;
  // The gain is a number of dB, not a character.
  std::clog << "DSPROC_CONFIGURE RX GAIN" << " ts=" << timeslot << " gain_dB=" << static_cast<int>(gain) << std::endl;
  return true;
}

// The record carries the frequency's 16 bits and the controller's enable as given (its low byte);
// the line shows what was asked.
bool DSProcReceiverService::configure_tone_filter(unsigned timeslot, unsigned freq, unsigned enable, int duration,
                                                  int level, bool quiet) {
  dsp::ToneFilterPayload p;
  p.frequency = static_cast<uint16_t>(freq);
  p.enable = static_cast<uint8_t>(enable);
  p.duration_msec = static_cast<uint16_t>(duration);
  p.level_db = static_cast<int8_t>(level);
  if (!configure(timeslot, dsp::kConfigureToneFilter, payload_of(p), "DSPROC_CONFIGURE Tone Filter fail:", quiet))
    return false;
  std::clog << "DSPROC_CONFIGURE TONE FILTER" << " ts=" << timeslot << " freq=" << freq << ", en=" << enable
            << ", dur_th_msec=" << duration << ", det_lvl_dB=" << level << std::endl;
  return true;
}

bool DSProcReceiverService::disable_tone_filters(unsigned timeslot, bool quiet) {
  if (!quiet && !opened("Disable All Tone", timeslot)) return false;
  dsp::FeatureMask r;
  r.timeslot = timeslot;
  r.id = 0;
  r.mask = dsp::kToneFilters;
  if (request(dsp::DSPROC_DISABLE, &r) < 0) {
    int error = errno;
    if (!quiet) put_errno(std::cerr << "Disable All Tone fail:" << " timeslot=" << timeslot, error) << std::endl;
    return false;
  }
  std::clog << "DISABLE ALL TONE done: " << " ts=" << timeslot << std::endl;
  return true;
}

bool DSProcReceiverService::switch_feature(unsigned timeslot, const Enable& to, uint32_t all, const char* name,
                                           bool quiet) {
  dsp::FeatureMask r;
  r.timeslot = timeslot;
  r.id = to.on() ? to.id : 0;
  r.mask = to.on() ? to.mask : all;
  const char* verb = to.on() ? "DSPROC_ENABLE " : "DSPROC_DISABLE ";
  if (request(to.on() ? dsp::DSPROC_ENABLE : dsp::DSPROC_DISABLE, &r) < 0) {
    int error = errno;
    if (!quiet) {
      std::cerr << verb << name << " fail:" << " timeslot=" << timeslot;
      if (to.on()) std::cerr << " id=" << to.id;
      put_errno(std::cerr, error) << std::endl;
    }
    return false;
  }
  std::cerr << verb << name << " done:" << " timeslot=" << timeslot;
  if (to.on()) std::cerr << " id=" << to.id;
  std::cerr << std::endl;
  return true;
}

bool DSProcReceiverService::configureVAD(DSProcReceiver& receiver, const LGCP::VADParams& params) {
  const unsigned timeslot = receiver.dsproc_timeslot();
  before_request(timeslot);
  if (!opened("configure VAD", timeslot)) return false;
  // Which layout the record takes is the device's answer: without one nothing is written, as a
  // record of the wrong layout would leave the VAD on thresholds no one asked for.
  const int version = request_value(dsp::DSPROC_VAD_VERSION, 0);
  if (version < 0) {
    const int error = errno;
    put_errno(std::cerr << "DSPROC_CONFIGURE VAD fail:" << " timeslot=" << timeslot, error) << std::endl;
    return false;
  }
  Payload payload;
  if (version == static_cast<int>(kVadVersion2)) {
    if (!params.is_v2()) {
      std::cerr << "DSPROC_CONFIGURE VAD: params not specified for v2: " << " timeslot=" << timeslot << std::endl;
      return false;
    }
    const TERM::VADParamsV2& v2 = params.get_v2();
    dsp::VadV2Payload p;
    p.voice_th_msec = static_cast<uint16_t>(static_cast<int>(v2.get_voice_th_msec()));
    p.silence_th_msec = static_cast<uint16_t>(static_cast<int>(v2.get_silence_th_msec()));
    p.e_th_db = static_cast<uint8_t>(static_cast<int>(v2.get_e_th_dB()));
    payload = payload_of(p);
  } else {
    dsp::VadV1Payload p;
    p.word0 = 3;
    p.word1 = 127;
    p.word2 = 0;
    payload = payload_of(p);
  }
  if (!configure_vad(timeslot, payload, false)) return false;
  took(receiver, m_book.at(timeslot).vadConfig, payload);
  return true;
}

bool DSProcReceiverService::configureSD(DSProcReceiver& receiver) {
  const unsigned timeslot = receiver.dsproc_timeslot();
  before_request(timeslot);
  if (!opened("configure SD", timeslot)) return false;
  if (!configure_sd(timeslot, false)) return false;
  took(receiver, m_book.at(timeslot).sdConfig, true);
  return true;
}

bool DSProcReceiverService::configureDelays(DSProcReceiver& receiver, unsigned rx, unsigned tx, unsigned selcal) {
  const unsigned timeslot = receiver.dsproc_timeslot();
  before_request(timeslot);
  const Delays delays{rx, tx, selcal};
  if (!configure_delays(timeslot, delays, false)) return false;
  took(receiver, m_book.at(timeslot).delays, delays);
  return true;
}

bool DSProcReceiverService::configureRxGain(DSProcReceiver& receiver, char gain) {
  const unsigned timeslot = receiver.dsproc_timeslot();
  before_request(timeslot);
  const auto db = static_cast<int8_t>(gain);
  if (!configure_rx_gain(timeslot, db, false)) return false;
  took(receiver, m_book.at(timeslot).rxGain, db);
  return true;
}

bool DSProcReceiverService::configureToneFilter(DSProcReceiver& receiver, unsigned freq, unsigned enable,
                                                int duration, int level) {
  const unsigned timeslot = receiver.dsproc_timeslot();
  before_request(timeslot);
  if (!opened("Configure Tone Filter", timeslot)) return false;
  if (!configure_tone_filter(timeslot, freq, enable, duration, level, false)) return false;
  // The device knows a frequency by its 16 bits: a record of the same 16 bits replaces it.
  const ToneFilter filter{static_cast<uint8_t>(enable), static_cast<uint16_t>(duration), static_cast<int8_t>(level)};
  auto& filters = m_book.at(timeslot).toneFilters;
  auto at = filters.try_emplace(static_cast<uint16_t>(freq), ToneFilter{}, Unwished::to_rest, Fresh::at_rest).first;
  took(receiver, at->second, filter);
  if (!filter_on(at->second) && at->second.settled()) filters.erase(at);
  return true;
}

bool DSProcReceiverService::held_on(const SharedSetting<ToneFilter>& filter) {
  const auto* newest = filter.wishes.newest();
  return newest && newest->value.enable != 0;
}

// A filter that no wish has on is off whoever asked: its wishes need not be kept (nor can the
// controller grow them without end with frequencies switched off).
bool DSProcReceiverService::filter_on(const SharedSetting<ToneFilter>& filter) {
  for (const auto& w : filter.wishes.entries())
    if (w.value.enable != 0) return true;
  return false;
}

bool DSProcReceiverService::enable(DSProcReceiver& receiver, SharedSetting<Enable> Settings::*feature, uint32_t want,
                                   uint32_t all, const char* name) {
  const unsigned timeslot = receiver.dsproc_timeslot();
  // Nothing to ask when the device holds off, or this receiver's own enable of those bits,
  // already. An off keeps the id of the receiver's last enable.
  const SharedSetting<Enable>& now = m_book.view(timeslot).*feature;
  const Enable* mine = now.wishes.of(&receiver);
  const uint32_t last = mine ? mine->id : 0;
  const Enable asked = want && mine ? *mine : Enable{0, last};
  if (asked.mask == want && now.holds(asked)) {
    took(receiver, m_book.at(timeslot).*feature, asked);
    return true;
  }
  before_request(timeslot);
  const Enable to = want ? Enable{want, next_id()} : Enable{0, last};
  if (!switch_feature(timeslot, to, all, name, false)) return false;
  took(receiver, m_book.at(timeslot).*feature, to);
  return true;
}

bool DSProcReceiverService::enableVAD(DSProcReceiver& receiver, bool on) {
  return enable(receiver, &Settings::vad, on ? dsp::kVad : 0u, dsp::kVad, "VAD");
}
bool DSProcReceiverService::enableSD(DSProcReceiver& receiver, bool on) {
  return enable(receiver, &Settings::sd, on ? dsp::kSd : 0u, dsp::kSd, "SD");
}
bool DSProcReceiverService::enableBSS(DSProcReceiver& receiver, bool on) {
  return enable(receiver, &Settings::bss, on ? dsp::kBss : 0u, dsp::kBss, "BSS");
}
bool DSProcReceiverService::enableNG(DSProcReceiver& receiver, bool on) {
  return enable(receiver, &Settings::ng, on ? dsp::kNg : 0u, dsp::kNg, "NG");
}

bool DSProcReceiverService::enableMute(DSProcReceiver& receiver, bool first, bool second) {
  const uint32_t mask = (first ? dsp::kMuteFirst : 0u) | (second ? dsp::kMuteSecond : 0u);
  return enable(receiver, &Settings::mute, mask, kMute, "MUTE");
}

bool DSProcReceiverService::disableToneAll(DSProcReceiver& receiver) {
  const unsigned timeslot = receiver.dsproc_timeslot();
  before_request(timeslot);
  if (!disable_tone_filters(timeslot, false)) return false;
  // Every filter of the timeslot is off, by this receiver's wish, the newest.
  auto& filters = m_book.at(timeslot).toneFilters;
  for (auto& entry : filters) {
    if (entry.second.live()) m_book.took(timeslot, entry.second, &receiver, !receiver.m_node.empty(), ToneFilter{});
    else entry.second.confirm(ToneFilter{});
  }
  std::erase_if(filters, [](const auto& entry) { return !filter_on(entry.second) && entry.second.settled(); });
  return true;
}

void DSProcReceiverService::OnRecord(const uint8_t* record) {
  dsp::ProcEvent e;
  std::memcpy(static_cast<void*>(&e), record, sizeof e);
  const uint32_t timeslot = e.timeslot, id = e.id, type = e.type;
  const bool trace = traces.signalling_events();
  auto fields = [&](std::ostream& os) -> std::ostream& {
    return os << " timeslot=" << timeslot << " id=" << id << " type=" << type;
  };

  if (trace) {
    fields(std::clog << "dsproc event: ") << std::endl;
    switch (type) {
      case dsp::kEventVad: {
        auto v = dsp::payload_as<dsp::VadEvent>(e.payload);
        std::clog << "dsproc vad event: " << " dir_mask=" << v.dir_mask << " vad_rx=" << v.vad_rx
                  << " vad_tx=" << v.vad_tx << std::endl;
        break;
      }
      case dsp::kEventSd:
        std::clog << "dsproc sd event: " << " sd_rx=" << dsp::payload_as<dsp::SdEvent>(e.payload).sd_rx << std::endl;
        break;
      case dsp::kEventBss:
        std::clog << "dsproc bss event: " << " score=" << static_cast<float>(dsp::payload_as<dsp::BssEvent>(e.payload).score)
                  << std::endl;
        break;
      case dsp::kEventFlags: {
        auto f = dsp::payload_as<dsp::FlagsEvent>(e.payload);
        std::clog << std::hex << "dsproc flags event: " << " flags=" << f.flags << ", mask=" << f.mask << std::dec
                  << std::endl;
        break;
      }
    }
  }


  // Several receivers may share a timeslot (the ports of a mixer channel): an event goes to the
  // one whose wish it answers; the lines for a dropped event name the first receiver of the
  // timeslot.
  DSProcReceiver* first = DSProcReceiver::find(timeslot);
  if (!first) {
    if (trace) std::cerr << "receive dsproc event from unknown timeslot " << timeslot << std::endl;
    return;
  }
  DSProcReceiver* r = receiver_of(timeslot, type, id, e.payload);
  switch (type) {
    case dsp::kEventVad: {
      if (!r) {
        // Off unless the newest wish is on (never switched on counts as off, whatever id the
        // record carries); else the id is not of a live enable: the current one is named.
        const auto* vad = settings(timeslot).vad.wishes.newest();
        if (!vad || !vad->value.on()) {
          if (trace) fields(std::clog << "ignore spurious dsproc vad event (dsproc disabled): ") << std::endl;
        } else if (trace) {
          fields(std::clog << "ignore spurious dsproc vad event: ") << " rid=" << vad->value.id << std::endl;
        }
        return;
      }
      auto v = dsp::payload_as<dsp::VadEvent>(e.payload);
      uint32_t dir = v.dir_mask;
      r->dsproc_vad_event(DSProcVADEvent{(dir & 1) ? static_cast<int>(v.vad_rx) : -1,
                                         (dir & 2) ? static_cast<int>(v.vad_tx) : -1});
      return;
    }
    case dsp::kEventSd:
      if (r) r->dsproc_sd_event(DSProcSDEvent{dsp::payload_as<dsp::SdEvent>(e.payload).sd_rx});
      return;
    case dsp::kEventBss: {
      if (!r) {
        if (trace) fields(std::clog << "ignore spurious dsproc bss event (dsproc disabled): ") << std::endl;
        return;
      }
      auto bss = from_payload<struct dsproc_bss_event>(e.payload);
      r->dsproc_bss_event(&bss);
      return;
    }
    case dsp::kEventToneFilter: {
      auto tone = from_payload<struct dsproc_tone_event>(e.payload);
      (r ? r : first)->dsproc_tone_flt_event(&tone);
      return;
    }
    case dsp::kEventFlags: {
      auto flags = from_payload<struct dsproc_flags_event>(e.payload);
      first->dsproc_flags_event(&flags);
      return;
    }
  }
}

DSProcReceiver* DSProcReceiverService::receiver_of(unsigned timeslot, uint32_t type, uint32_t id,
                                                   const uint8_t* payload) const {
  const Settings& s = settings(timeslot);
  // The live receiver whose wish the device holds: while a feature is on, the one whose enable
  // the record's id names (an event already on its way when a newer enable came still reaches
  // its receiver); none while the newest wish is off.
  const void* wisher = nullptr;
  auto enabled_with = [id](const SharedSetting<Enable>& feature) -> const void* {
    const auto* newest = feature.wishes.newest();
    if (!newest || !newest->value.on()) return nullptr;
    for (const auto& w : feature.wishes.entries())
      if (w.value.on() && w.value.id == id) return w.user;
    return nullptr;
  };
  auto holder = [](const auto& setting) -> const void* {
    const auto* newest = setting.wishes.newest();
    return newest && newest->value != std::decay_t<decltype(newest->value)>{} ? newest->user : nullptr;
  };
  switch (type) {
    case dsp::kEventVad: wisher = enabled_with(s.vad); break;
    case dsp::kEventSd: wisher = enabled_with(s.sd); break;
    // BSS events carry no id the Parts match: they are for the receiver whose enable is current.
    case dsp::kEventBss: wisher = holder(s.bss); break;
    // A detection names its frequency: it is for the receiver whose filter of that frequency is on.
    case dsp::kEventToneFilter: {
      const uint32_t frequency = from_payload<dsproc_tone_event>(payload).frequency;
      auto it = frequency <= 0xFFFF ? s.toneFilters.find(static_cast<uint16_t>(frequency)) : s.toneFilters.end();
      if (it != s.toneFilters.end()) wisher = holder(it->second);
      break;
    }
  }
  if (!wisher) return nullptr;
  Containers::CyclicList& list = DSProcReceiver::all();
  for (Containers::CyclicList* n = list.next; n != &list; n = n->next) {
    DSProcReceiver* each = DSProcReceiver::owner(n);
    if (each == wisher && each->dsproc_timeslot() == timeslot) return each;
  }
  return nullptr;
}

void DSProcReceiverService::leave(DSProcReceiver& receiver) {
  receiver.m_node.unlink();
  const unsigned timeslot = receiver.dsproc_timeslot();
  Settings& s = m_book.leave(timeslot, &receiver);
  bool on = false;
  for (const auto& entry : s.toneFilters) on = on || held_on(entry.second);
  s.sweepToneFilters = !on;
  m_book.settle(timeslot, false);
}

void DSProcReceiverService::forget(DSProcReceiver& receiver) {
  receiver.m_node.unlink();
  m_book.forget(&receiver);
}

void DSProcReceiverService::receiver_coming() { m_book.settle_all(true); }

uint32_t DSProcReceiverService::unconfirmed(const DSProcReceiver& receiver) const {
  const Settings& s = settings(receiver.dsproc_timeslot());
  bool filters = false;
  for (const auto& entry : s.toneFilters) filters = filters || entry.second.unconfirmed_for(&receiver);
  const std::pair<bool, uint32_t> bits[] = {
      {s.vadConfig.unconfirmed_for(&receiver), kVadConfig}, {s.sdConfig.unconfirmed_for(&receiver), kSdConfig},
      {filters, kToneFilterConfig},                          {s.delays.unconfirmed_for(&receiver), kDelaysConfig},
      {s.rxGain.unconfirmed_for(&receiver), kRxGainConfig},  {s.vad.unconfirmed_for(&receiver), kVadOn},
      {s.sd.unconfirmed_for(&receiver), kSdOn},              {s.bss.unconfirmed_for(&receiver), kBssOn},
      {s.ng.unconfirmed_for(&receiver), kNgOn},              {s.mute.unconfirmed_for(&receiver), kMuteOn}};
  uint32_t out = 0;
  for (const auto& [unconfirmed, bit] : bits) out |= unconfirmed ? bit : 0u;
  return out;
}

bool DSProcReceiverService::settle() { return m_book.settle_all(true); }

void DSProcReceiverService::settle_one(unsigned timeslot, Settings& s, bool quiet) {
  const auto feature_to = [&](uint32_t all, const char* name) {
    return [this, timeslot, all, name, quiet](const Enable& to) { return switch_feature(timeslot, to, all, name, quiet); };
  };
  const auto delays_to = [&](const Delays& d) { return configure_delays(timeslot, d, quiet); };
  const auto gain_to = [&](int8_t gain) { return configure_rx_gain(timeslot, gain, quiet); };
  // What no live receiver wants any more, switched off in the order of the receivers' clean-up.
  if (!s.vad.live()) s.vad.bring(feature_to(dsp::kVad, "VAD"));
  if (!s.bss.live()) s.bss.bring(feature_to(dsp::kBss, "BSS"));
  if (!s.ng.live()) s.ng.bring(feature_to(dsp::kNg, "NG"));
  if (!s.delays.live()) s.delays.bring(delays_to);
  if (!s.rxGain.live()) s.rxGain.bring(gain_to);
  settle_unwanted_tone_filters(timeslot, s, quiet);
  // What the live receivers want: configuration records first, and a switch on only once the
  // record it runs on was taken (until then it would run on the device's defaults).
  if (s.vadConfig.live()) s.vadConfig.bring([&](const Payload& p) { return configure_vad(timeslot, p, quiet); });
  if (s.sdConfig.live()) s.sdConfig.bring([&](bool) { return configure_sd(timeslot, quiet); });
  for (auto& [frequency, filter] : s.toneFilters) {
    if (!filter.live()) continue;
    filter.bring([&, frequency = frequency](const ToneFilter& f) {
      return configure_tone_filter(timeslot, frequency, f.enable, f.duration_msec, f.level_db, quiet);
    });
  }
  if (s.delays.live()) s.delays.bring(delays_to);
  if (s.rxGain.live()) s.rxGain.bring(gain_to);
  if (s.vad.live() && (!s.vad.target()->on() || s.vadConfig.settled())) s.vad.bring(feature_to(dsp::kVad, "VAD"));
  if (s.sd.live() && (!s.sd.target()->on() || s.sdConfig.settled())) s.sd.bring(feature_to(dsp::kSd, "SD"));
  if (s.bss.live()) s.bss.bring(feature_to(dsp::kBss, "BSS"));
  if (s.ng.live()) s.ng.bring(feature_to(dsp::kNg, "NG"));
  if (s.mute.live()) s.mute.bring(feature_to(kMute, "MUTE"));
  std::erase_if(s.toneFilters, [](const auto& entry) { return !filter_on(entry.second) && entry.second.settled(); });
  using Book = TimeslotBook<Settings>;
  note_pass(timeslot, Book::owes_clean_up(s), Book::owes_put_back(s), Book::wished(s), s.notes);
}

void DSProcReceiverService::settle_unwanted_tone_filters(unsigned timeslot, Settings& s, bool quiet) {
  bool on = false;     // a live receiver has a filter on
  bool stale = false;  // a filter no live receiver wants may be on
  for (const auto& [frequency, filter] : s.toneFilters) {
    on = on || held_on(filter);
    stale = stale || (!filter.live() && !filter.settled());
  }
  if (!on) {
    if (!s.sweepToneFilters && !stale) return;
    s.sweepToneFilters = false;
    if (!disable_tone_filters(timeslot, quiet)) return;
    for (auto& entry : s.toneFilters) entry.second.confirm(ToneFilter{});
    return;
  }
  // The filters of live receivers stay on: the others go one by one.
  for (auto& [frequency, filter] : s.toneFilters) {
    if (filter.live()) continue;
    filter.bring([&, frequency = frequency](const ToneFilter& f) {
      return configure_tone_filter(timeslot, frequency, f.enable, f.duration_msec, f.level_db, quiet);
    });
  }
}

// The device lost what it held: every timeslot's settings are given back as the live receivers
// want them, with the ids their events are matched by, after what departed receivers left on
// is switched off.
void DSProcReceiverService::OnReopened() { m_book.lost(false); }

}  // namespace Hardware
