#include "hardware/DSProcReceiverService.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

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
static_assert(sizeof(dsp::ProcEvent) == DSProcReceiverService::kRecordSize);
static_assert(DSProcReceiverService::kRecordSize <= DeviceEventReader::kMaxRecordSize);

constexpr unsigned kVadVersion2 = 2;

std::ostream& put_errno(std::ostream& os, int error) {
  return os << " errno=" << ext::quoted(std::strerror(error));
}

void delays_payload(uint8_t (&payload)[12], unsigned rx, unsigned tx, unsigned selcal) {
  dsp::DelaysPayload p;
  p.rx = rx;
  p.tx = tx;
  p.selcal = selcal;
  dsp::set_payload(payload, p);
}

void rx_gain_payload(uint8_t (&payload)[12], char gain) {
  dsp::RxGainPayload p;
  p.gain_db = static_cast<int8_t>(gain);
  dsp::set_payload(payload, p);
}

// The enable byte carries the controller's value as given (the request's low byte).
void tone_filter_payload(uint8_t (&payload)[12], uint16_t frequency, unsigned enable, uint16_t duration_msec,
                         int8_t level_db) {
  dsp::ToneFilterPayload p;
  p.frequency = frequency;
  p.enable = static_cast<uint8_t>(enable);
  p.duration_msec = duration_msec;
  p.level_db = level_db;
  dsp::set_payload(payload, p);
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
      m_owed([this](unsigned timeslot, Owed& what) { return carry_out_one(timeslot, what); },
             [this] { settle_later(); }) {}

bool DSProcReceiverService::configure(unsigned timeslot, uint32_t what, const uint8_t (&payload)[12],
                                      const char* fail_text, bool quiet) {
  dsp::Configure r;
  r.timeslot = timeslot;
  r.what = what;
  std::memcpy(r.payload, payload, sizeof r.payload);
  if (request(dsp::DSPROC_CONFIGURE, &r) < 0) {
    int error = errno;
    if (!quiet) put_errno(std::cerr << fail_text << " timeslot=" << timeslot, error) << std::endl;
    return false;
  }
  return true;
}

bool DSProcReceiverService::configureVAD(DSProcReceiver& receiver, const LGCP::VADParams& params) {
  unsigned timeslot = receiver.dsproc_timeslot();
  before_request(timeslot);
  if (!opened("configure VAD", timeslot)) return false;
  int version = request_value(dsp::DSPROC_VAD_VERSION, 0);
  uint8_t payload[12] = {};
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
    dsp::set_payload(payload, p);
  } else {
    dsp::VadV1Payload p;
    p.word0 = 3;
    p.word1 = 127;
    p.word2 = 0;
    dsp::set_payload(payload, p);
  }
  if (!configure(timeslot, dsp::kConfigureVad, payload, "DSPROC_CONFIGURE VAD fail:")) return false;
  std::memcpy(receiver.m_vadConfig, payload, sizeof payload);
  receiver.m_vadConfigured = true;
  receiver.m_unconfirmed &= ~kVadConfig;
  made(receiver, kVadConfig);
  std::clog << "DSPROC_CONFIGURE VAD" << " ts=" << timeslot << std::endl;
  return true;
}

bool DSProcReceiverService::configureSD(DSProcReceiver& receiver) {
  unsigned timeslot = receiver.dsproc_timeslot();
  before_request(timeslot);
  if (!opened("configure SD", timeslot)) return false;
  uint8_t payload[12] = {};
  if (!configure(timeslot, dsp::kConfigureSd, payload, "DSPROC_CONFIGURE SD fail:")) return false;
  receiver.m_sdConfigured = true;
  receiver.m_unconfirmed &= ~kSdConfig;
  made(receiver, kSdConfig);
  std::clog << "DSPROC_CONFIGURE SD" << " ts=" << timeslot << std::endl;
  return true;
}

bool DSProcReceiverService::configureDelays(DSProcReceiver& receiver, unsigned rx, unsigned tx, unsigned selcal) {
  unsigned timeslot = receiver.dsproc_timeslot();
  before_request(timeslot);
  if (!opened("configure Delays", timeslot)) return false;
  uint8_t payload[12] = {};
  delays_payload(payload, rx, tx, selcal);
  if (!configure(timeslot, dsp::kConfigureDelays, payload, "DSPROC_CONFIGURE DELAYS fail:")) return false;
  receiver.m_unconfirmed &= ~kDelaysConfig;
  taken(timeslot, 0, true);
  made(receiver, kDelaysConfig);
  std::clog << "DSPROC_CONFIGURE DELAYS" << " ts=" << timeslot << " rx=" << rx << " tx=" << tx << " selcal=" << selcal
            << std::endl;
  return true;
}

bool DSProcReceiverService::configureRxGain(DSProcReceiver& receiver, char gain) {
  unsigned timeslot = receiver.dsproc_timeslot();
  before_request(timeslot);
  if (!opened("Configure Rx gain", timeslot)) return false;
  uint8_t payload[12] = {};
  rx_gain_payload(payload, gain);
  if (!configure(timeslot, dsp::kConfigureRxGain, payload, "DSPROC_CONFIGURE Rx Gain fail:")) return false;
  receiver.m_unconfirmed &= ~kRxGainConfig;
  taken(timeslot, 0, false, true);
  made(receiver, kRxGainConfig);
  // The gain is a number of dB, not a character.
  std::clog << "DSPROC_CONFIGURE RX GAIN" << " ts=" << timeslot << " gain_dB=" << static_cast<int>(static_cast<int8_t>(gain))
            << std::endl;
  return true;
}

bool DSProcReceiverService::configureToneFilter(DSProcReceiver& receiver, unsigned freq, unsigned enable,
                                                int duration, int level) {
  unsigned timeslot = receiver.dsproc_timeslot();
  before_request(timeslot);
  if (!opened("Configure Tone Filter", timeslot)) return false;
  uint8_t payload[12] = {};
  const auto frequency = static_cast<uint16_t>(freq);
  tone_filter_payload(payload, frequency, enable, static_cast<uint16_t>(duration), static_cast<int8_t>(level));
  if (!configure(timeslot, dsp::kConfigureToneFilter, payload, "DSPROC_CONFIGURE Tone Filter fail:")) return false;
  // The record of a frequency replaces the one before, whichever receiver of the timeslot set
  // that; a filter switched off needs no put-back. The device knows a frequency by its 16 bits.
  made_tone_filter(receiver, frequency, false);
  auto& records = receiver.m_toneFilterRecords;
  auto at = std::lower_bound(records.begin(), records.end(), frequency,
                             [](const DSProcReceiver::ToneFilter& f, uint16_t v) { return f.frequency < v; });
  const bool known = at != records.end() && at->frequency == frequency;
  if (static_cast<uint8_t>(enable) == 0) {
    if (known) records.erase(at);
  } else {
    const DSProcReceiver::ToneFilter f{frequency, static_cast<uint16_t>(duration), static_cast<int8_t>(level)};
    if (known) *at = f;
    else records.insert(at, f);
  }
  std::clog << "DSPROC_CONFIGURE TONE FILTER" << " ts=" << timeslot << " freq=" << freq << ", en=" << enable
            << ", dur_th_msec=" << duration << ", det_lvl_dB=" << level << std::endl;
  return true;
}

bool DSProcReceiverService::enable_request(unsigned timeslot, uint32_t id, uint32_t mask, const char* name,
                                           bool quiet) {
  dsp::FeatureMask r;
  r.timeslot = timeslot;
  r.id = id;
  r.mask = mask;
  if (request(dsp::DSPROC_ENABLE, &r) < 0) {
    int error = errno;
    if (!quiet) put_errno(std::cerr << "DSPROC_ENABLE " << name << " fail:" << " timeslot=" << timeslot << " id=" << id, error)
        << std::endl;
    return false;
  }
  std::cerr << "DSPROC_ENABLE " << name << " done:" << " timeslot=" << timeslot << " id=" << id << std::endl;
  return true;
}

bool DSProcReceiverService::enable(DSProcReceiver& receiver, DSProcReceiver::Feature& feature, uint32_t mask,
                                   uint32_t setting, const char* name, bool on) {
  // A feature whose put-back the device has not taken, or that another receiver of the timeslot
  // switched on since, is asked for now.
  if (feature.state >= 0 && (feature.state != 0) == on && !((receiver.m_unconfirmed | receiver.m_elsewhere) & setting))
    return true;
  unsigned timeslot = receiver.dsproc_timeslot();
  before_request(timeslot);
  dsp::FeatureMask r;
  r.timeslot = timeslot;
  r.mask = mask;
  if (on) {
    uint32_t id = next_id();
    if (!enable_request(timeslot, id, mask, name)) return false;
    feature.id = id;
    feature.state = 1;
    receiver.m_unconfirmed &= ~setting;
    taken(timeslot, mask);
    made(receiver, setting);
    return true;
  }
  r.id = 0;
  if (request(dsp::DSPROC_DISABLE, &r) < 0) {
    int error = errno;
    put_errno(std::cerr << "DSPROC_DISABLE " << name << " fail:" << " timeslot=" << timeslot, error) << std::endl;
    return false;
  }
  feature.state = 0;
  receiver.m_unconfirmed &= ~setting;
  taken(timeslot, mask);
  made(receiver, setting);
  std::cerr << "DSPROC_DISABLE " << name << " done:" << " timeslot=" << timeslot << std::endl;
  return true;
}

bool DSProcReceiverService::enableVAD(DSProcReceiver& receiver, bool on) {
  return enable(receiver, receiver.m_vad, dsp::kVad, kVadOn, "VAD", on);
}
bool DSProcReceiverService::enableSD(DSProcReceiver& receiver, bool on) {
  return enable(receiver, receiver.m_sd, dsp::kSd, kSdOn, "SD", on);
}
bool DSProcReceiverService::enableBSS(DSProcReceiver& receiver, bool on) {
  return enable(receiver, receiver.m_bss, dsp::kBss, kBssOn, "BSS", on);
}
bool DSProcReceiverService::enableNG(DSProcReceiver& receiver, bool on) {
  return enable(receiver, receiver.m_ng, dsp::kNg, kNgOn, "NG", on);
}

bool DSProcReceiverService::enableMute(DSProcReceiver& receiver, bool first, bool second) {
  if (receiver.m_muteFirst >= 0 && receiver.m_muteSecond >= 0 && (receiver.m_muteFirst != 0) == first &&
      (receiver.m_muteSecond != 0) == second && !((receiver.m_unconfirmed | receiver.m_elsewhere) & kMuteOn))
    return true;
  unsigned timeslot = receiver.dsproc_timeslot();
  before_request(timeslot);
  dsp::FeatureMask r;
  r.timeslot = timeslot;
  if (!first && !second) {
    r.id = 0;
    r.mask = dsp::kMuteFirst | dsp::kMuteSecond;
    if (request(dsp::DSPROC_DISABLE, &r) < 0) {
      int error = errno;
      put_errno(std::cerr << "DSPROC_DISABLE MUTE fail:" << " timeslot=" << timeslot, error) << std::endl;
      return false;
    }
    receiver.m_muteFirst = receiver.m_muteSecond = 0;
    receiver.m_unconfirmed &= ~kMuteOn;
    made(receiver, kMuteOn);
    std::cerr << "DSPROC_DISABLE MUTE done:" << " timeslot=" << timeslot << std::endl;
    return true;
  }
  uint32_t id = next_id();
  if (!enable_request(timeslot, id, (first ? dsp::kMuteFirst : 0) | (second ? dsp::kMuteSecond : 0), "MUTE"))
    return false;
  receiver.m_muteId = id;
  receiver.m_muteFirst = first ? 1 : 0;
  receiver.m_muteSecond = second ? 1 : 0;
  receiver.m_unconfirmed &= ~kMuteOn;
  made(receiver, kMuteOn);
  return true;
}

bool DSProcReceiverService::disableToneAll(DSProcReceiver& receiver) {
  unsigned timeslot = receiver.dsproc_timeslot();
  before_request(timeslot);
  if (!opened("Disable All Tone", timeslot)) return false;
  dsp::FeatureMask r;
  r.timeslot = timeslot;
  r.id = 0;
  r.mask = dsp::kToneFilters;
  if (request(dsp::DSPROC_DISABLE, &r) < 0) {
    int error = errno;
    put_errno(std::cerr << "Disable All Tone fail:" << " timeslot=" << timeslot, error) << std::endl;
    return false;
  }
  receiver.m_toneFilterRecords.clear();
  receiver.m_unconfirmed &= ~kToneFilterConfig;
  taken(timeslot, dsp::kToneFilters);
  made_tone_filter(receiver, 0, true);
  std::clog << "DISABLE ALL TONE done: " << " ts=" << timeslot << std::endl;
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

  // Two ports may share a timeslot (a mixer channel's input and output): an event goes to the
  // one that has its feature on (and, for VAD and SD, the id of that enable); the lines for a
  // dropped event name the first receiver of the timeslot.
  DSProcReceiver* first = nullptr;
  DSProcReceiver* r = nullptr;
  Containers::CyclicList& list = DSProcReceiver::all();
  for (Containers::CyclicList* n = list.next; n != &list && !r; n = n->next) {
    DSProcReceiver* each = DSProcReceiver::owner(n);
    if (each->dsproc_timeslot() != timeslot) continue;
    if (!first) first = each;
    if (takes(*each, type, id)) r = each;
  }
  if (!first) {
    if (trace) std::cerr << "receive dsproc event from unknown timeslot " << timeslot << std::endl;
    return;
  }
  switch (type) {
    case dsp::kEventVad: {
      if (!r) {
        // A feature never switched on (state -1) counts as off, whatever id the record carries.
        if (first->m_vad.state <= 0) {
          if (trace) fields(std::clog << "ignore spurious dsproc vad event (dsproc disabled): ") << std::endl;
        } else if (trace) {
          fields(std::clog << "ignore spurious dsproc vad event: ") << " rid=" << first->m_vad.id << std::endl;
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

bool DSProcReceiverService::takes(const DSProcReceiver& r, uint32_t type, uint32_t id) {
  switch (type) {
    case dsp::kEventVad: return r.m_vad.state > 0 && r.m_vad.id == id;
    case dsp::kEventSd: return r.m_sd.state > 0 && r.m_sd.id == id;
    // Without an id, a BSS event is the one's that holds the switch.
    case dsp::kEventBss: return r.m_bss.state != 0 && !(r.m_elsewhere & kBssOn);
    case dsp::kEventToneFilter: return r.m_toneFilters;
  }
  return false;
}

void DSProcReceiverService::owe(DSProcReceiver& r) {
  Owed what;
  if (r.m_vad.state > 0) what.disable |= dsp::kVad;
  if (r.m_bss.state > 0) what.disable |= dsp::kBss;
  if (r.m_ng.state > 0) what.disable |= dsp::kNg;
  if (r.m_toneFilters) what.disable |= dsp::kToneFilters;
  what.delays = r.m_delaysSet;
  what.rxGain = r.m_rxGainSet;
  // Nothing of the timeslot is put back for this receiver (SD and mute stay on the device), and
  // none of its events are for it: a later receiver of the timeslot takes them.
  r.m_vad.state = r.m_vad.state > 0 ? 0 : r.m_vad.state;
  r.m_sd.state = r.m_sd.state > 0 ? 0 : r.m_sd.state;
  r.m_bss.state = r.m_ng.state = 0;
  r.m_muteFirst = r.m_muteSecond = -1;
  r.m_toneFilters = r.m_delaysSet = r.m_rxGainSet = false;
  r.m_unconfirmed = r.m_elsewhere = 0;
  r.m_node.unlink();
  if (what.disable == 0 && !what.delays && !what.rxGain) return;
  const unsigned timeslot = r.dsproc_timeslot();
  std::cerr << "dsproc: switch-off of timeslot " << timeslot << " put off until the device takes it" << std::endl;
  m_owed.owe(timeslot, what);
}

void DSProcReceiverService::receiver_coming() {
  if (!m_owed.empty()) m_owed.carry_out_all();
}

uint32_t DSProcReceiverService::switches_on(const DSProcReceiver& r) {
  return (r.m_vad.state > 0 ? kVadOn : 0u) | (r.m_sd.state > 0 ? kSdOn : 0u) | (r.m_bss.state > 0 ? kBssOn : 0u) |
         (r.m_ng.state > 0 ? kNgOn : 0u) | (r.m_muteFirst > 0 || r.m_muteSecond > 0 ? kMuteOn : 0u);
}

void DSProcReceiverService::made(DSProcReceiver& setter, uint32_t settings) {
  setter.m_elsewhere &= ~settings;
  const unsigned timeslot = setter.dsproc_timeslot();
  // A switch the setter turned on is elsewhere for the others; one it turned off is off for all.
  const uint32_t on = switches_on(setter);
  constexpr uint32_t kSwitches = kVadOn | kSdOn | kBssOn | kNgOn | kMuteOn;
  Containers::CyclicList& list = DSProcReceiver::all();
  for (Containers::CyclicList* n = list.next; n != &list; n = n->next) {
    DSProcReceiver& r = *DSProcReceiver::owner(n);
    if (&r == &setter || r.dsproc_timeslot() != timeslot) continue;
    if (settings & kVadConfig) r.m_vadConfigured = false;
    if (settings & kSdConfig) r.m_sdConfigured = false;
    if (settings & kDelaysConfig) r.m_delaysSet = false;
    if (settings & kRxGainConfig) r.m_rxGainSet = false;
    const uint32_t off = settings & kSwitches & ~on;
    if (off & kVadOn) r.m_vad.state = 0;
    if (off & kSdOn) r.m_sd.state = 0;
    if (off & kBssOn) r.m_bss.state = 0;
    if (off & kNgOn) r.m_ng.state = 0;
    if (off & kMuteOn) r.m_muteFirst = r.m_muteSecond = 0;
    r.m_elsewhere = (r.m_elsewhere & ~off) | (settings & on);
    r.m_unconfirmed &= ~settings;
  }
}

void DSProcReceiverService::made_tone_filter(DSProcReceiver& setter, uint16_t frequency, bool all) {
  const unsigned timeslot = setter.dsproc_timeslot();
  Containers::CyclicList& list = DSProcReceiver::all();
  for (Containers::CyclicList* n = list.next; n != &list; n = n->next) {
    DSProcReceiver& r = *DSProcReceiver::owner(n);
    if (&r == &setter || r.dsproc_timeslot() != timeslot) continue;
    auto& records = r.m_toneFilterRecords;
    if (all) {
      records.clear();
      r.m_toneFilters = false;
    } else {
      std::erase_if(records, [frequency](const DSProcReceiver::ToneFilter& f) { return f.frequency == frequency; });
    }
    if (records.empty()) r.m_unconfirmed &= ~kToneFilterConfig;
  }
}

void DSProcReceiverService::taken(unsigned timeslot, uint32_t disable, bool delays, bool rxGain) {
  m_owed.taken(timeslot, [&](Owed& owed) {
    owed.disable &= ~disable;
    owed.delays = owed.delays && !delays;
    owed.rxGain = owed.rxGain && !rxGain;
  });
}

bool DSProcReceiverService::settle() {
  m_owed.carry_out_all();
  const bool done = put_back_all(true);
  return m_owed.empty() && done;
}

bool DSProcReceiverService::carry_out_one(unsigned timeslot, Owed& what) {
  static const uint8_t kZero[12] = {};
  if (what.disable) {
    dsp::FeatureMask r;
    r.timeslot = timeslot;
    r.id = 0;
    r.mask = what.disable;
    if (request(dsp::DSPROC_DISABLE, &r) >= 0) {
      std::cerr << "DSPROC_DISABLE done:" << " timeslot=" << timeslot << " mask=" << what.disable << std::endl;
      what.disable = 0;
    }
  }
  // Delays and gain of 0 are all-zero payloads.
  if (what.delays && configure(timeslot, dsp::kConfigureDelays, kZero, "DSPROC_CONFIGURE DELAYS fail:", true))
    what.delays = false;
  if (what.rxGain && configure(timeslot, dsp::kConfigureRxGain, kZero, "DSPROC_CONFIGURE Rx Gain fail:", true))
    what.rxGain = false;
  if (what.disable != 0 || what.delays || what.rxGain) return false;
  std::clog << "dsproc: switch-off of timeslot " << timeslot << " done" << std::endl;
  return true;
}

// The device lost what it held: every live receiver's configuration records, delays and gain are
// put back, then its features switched on again with the ids their events are matched by. What
// the device refuses stays wanted, counts as on meanwhile, and is put back on the settle timer.
void DSProcReceiverService::OnReopened() {
  // A departed receiver's features must not outlast the return into the next call.
  m_owed.carry_out_all();
  const auto hold = m_owed.hold();
  Containers::CyclicList& list = DSProcReceiver::all();
  for (Containers::CyclicList* n = list.next; n != &list; n = n->next) {
    DSProcReceiver& r = *DSProcReceiver::owner(n);
    r.m_unconfirmed = (r.m_vadConfigured ? kVadConfig : 0u) | (r.m_sdConfigured ? kSdConfig : 0u) |
                      (r.m_toneFilterRecords.empty() ? 0u : kToneFilterConfig) |
                      (r.m_delaysSet ? kDelaysConfig : 0u) | (r.m_rxGainSet ? kRxGainConfig : 0u) |
                      switches_on(r);
    r.m_unconfirmed &= ~r.m_elsewhere;
  }
  if (!put_back_all(false)) settle_later();
}

// Each setting is held by one receiver of its timeslot at most, so the order of the receivers
// does not matter; the order of the records does: one receiver's configuration may govern
// another's switch.
bool DSProcReceiverService::put_back_all(bool quiet) {
  Containers::CyclicList& list = DSProcReceiver::all();
  for (Containers::CyclicList* n = list.next; n != &list; n = n->next) {
    DSProcReceiver& r = *DSProcReceiver::owner(n);
    if (r.m_unconfirmed & kConfigs) put_back(r, quiet, kConfigs);
  }
  bool left = false;
  for (Containers::CyclicList* n = list.next; n != &list; n = n->next) {
    DSProcReceiver& r = *DSProcReceiver::owner(n);
    if (!r.m_unconfirmed && !r.m_putBackLogged) continue;
    put_back(r, quiet, ~kConfigs);
    if (!note_put_back(r.dsproc_timeslot(), r.m_unconfirmed != 0, r.m_putBackLogged)) left = true;
  }
  return !left;
}

void DSProcReceiverService::put_back(DSProcReceiver& r, bool quiet, uint32_t settings) {
  const unsigned timeslot = r.dsproc_timeslot();
  auto step = [&](uint32_t setting, auto&& issue) {
    if ((r.m_unconfirmed & settings & setting) && issue()) r.m_unconfirmed &= ~setting;
  };
  step(kVadConfig,
       [&] { return configure(timeslot, dsp::kConfigureVad, r.m_vadConfig, "DSPROC_CONFIGURE VAD fail:", quiet); });
  step(kSdConfig, [&] {
    static const uint8_t kNone[12] = {};
    return configure(timeslot, dsp::kConfigureSd, kNone, "DSPROC_CONFIGURE SD fail:", quiet);
  });
  step(kToneFilterConfig, [&] {
    for (const DSProcReceiver::ToneFilter& f : r.m_toneFilterRecords) {
      uint8_t payload[12] = {};
      tone_filter_payload(payload, f.frequency, true, f.duration_msec, f.level_db);
      if (!configure(timeslot, dsp::kConfigureToneFilter, payload, "DSPROC_CONFIGURE Tone Filter fail:", quiet))
        return false;
    }
    return true;
  });
  step(kDelaysConfig, [&] {
    uint8_t payload[12] = {};
    delays_payload(payload, r.m_delays[0], r.m_delays[1], r.m_delays[2]);
    return configure(timeslot, dsp::kConfigureDelays, payload, "DSPROC_CONFIGURE DELAYS fail:", quiet);
  });
  step(kRxGainConfig, [&] {
    uint8_t payload[12] = {};
    rx_gain_payload(payload, r.m_rxGain);
    return configure(timeslot, dsp::kConfigureRxGain, payload, "DSPROC_CONFIGURE Rx Gain fail:", quiet);
  });
  step(kVadOn, [&] { return enable_request(timeslot, r.m_vad.id, dsp::kVad, "VAD", quiet); });
  step(kSdOn, [&] { return enable_request(timeslot, r.m_sd.id, dsp::kSd, "SD", quiet); });
  step(kBssOn, [&] { return enable_request(timeslot, r.m_bss.id, dsp::kBss, "BSS", quiet); });
  step(kNgOn, [&] { return enable_request(timeslot, r.m_ng.id, dsp::kNg, "NG", quiet); });
  step(kMuteOn, [&] {
    const uint32_t mask = (r.m_muteFirst > 0 ? dsp::kMuteFirst : 0u) | (r.m_muteSecond > 0 ? dsp::kMuteSecond : 0u);
    return enable_request(timeslot, r.m_muteId, mask, "MUTE", quiet);
  });
}

}  // namespace Hardware
