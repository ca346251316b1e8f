#include "hardware/TonecReceiverService.h"

#include <algorithm>
#include <iterator>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "asn1/schemas/LGCP.h"
#include "asn1/schemas/TERM.h"
#include "board/board.h"
#include "board/dtmf.h"
#include "foundation/Hex.h"
#include "hardware/DevNames.h"
#include "hardware/TonecReceiver.h"

namespace Hardware {

namespace {

namespace dtmf = board::dtmf;
static_assert(sizeof(dtmf::ToneEvent) == TonecReceiverService::kRecordSize);
static_assert(TonecReceiverService::kRecordSize <= DeviceEventReader::kMaxRecordSize);

// " errno="<text>"" of the failure lines.
std::ostream& put_errno(std::ostream& os, int error) {
  return os << " errno=" << ext::quoted(std::strerror(error));
}

}  // namespace

TonecReceiverService* TonecReceiverService::instance() {
  static TonecReceiverService* service = new TonecReceiverService;  // lives as long as the process
  return service;
}

TonecReceiverService::TonecReceiverService()
    : DeviceEventReader({GetDTMFDevName, kRecordSize, "tonec", "open tonec fail, DTMF proceeding disabled: ",
                         "TonecReceiverService::OnEvent"}),
      m_owed([this](unsigned timeslot, unsigned& what) { return carry_out_one(timeslot, what); },
             [this] { settle_later(); }) {}

bool TonecReceiverService::configureDTMF(TonecReceiver& receiver, const LGCP::DTMFParams& params) {
  const unsigned timeslot = receiver.tonec_timeslot();
  before_request(timeslot);
  if (!opened("configure DTMF", timeslot)) return false;
  const uint32_t config[4] = {static_cast<uint32_t>(static_cast<int>(params.get_threshold().get_twist())),
                              static_cast<uint32_t>(static_cast<int>(params.get_threshold().get_ratio())),
                              static_cast<uint32_t>(static_cast<int>(params.get_threshold().get_noise())),
                              static_cast<uint32_t>(static_cast<int>(params.get_level().get_silence()))};
  if (!configure_detector(timeslot, config, false)) return false;
  std::copy(std::begin(config), std::end(config), receiver.m_dtmfConfig);
  receiver.m_dtmfConfigured = true;
  receiver.m_unconfirmed &= ~kDtmfConfig;
  made(receiver, kDtmfConfig);
  return true;
}

bool TonecReceiverService::configure_detector(unsigned timeslot, const uint32_t (&config)[4], bool quiet) {
  dtmf::DetectorConfig r;
  r.timeslot = timeslot;
  r.twist = config[0];
  r.ratio = config[1];
  r.noise = config[2];
  r.silence = config[3];
  if (request(dtmf::DTMF_CONFIGURE_DETECTOR, &r) < 0) {
    int error = errno;
    if (!quiet) put_errno(std::cerr << "DTMF_CONFIGURE_DETECTOR" << " fail:" << " timeslot=" << timeslot, error) << std::endl;
    return false;
  }
  std::clog << "DTMF_CONFIGURE_DETECTOR" << " ts=" << timeslot << " twist=" << r.twist << " ratio=" << r.ratio
            << " noise=" << r.noise << " silence=" << r.silence << std::endl;
  return true;
}

bool TonecReceiverService::switch_request(unsigned timeslot, uint32_t request, const char* name, const char* suffix,
                                          bool quiet) {
  if (request_value(request, timeslot) < 0) {
    int error = errno;
    if (!quiet) put_errno(std::cerr << name << suffix << " fail:" << " timeslot=" << timeslot, error) << std::endl;
    return false;
  }
  std::clog << name << suffix << "[" << timeslot << "] ok" << std::endl;
  return true;
}

bool TonecReceiverService::echoCancel(unsigned timeslot, bool on) {
  before_request(timeslot);
  return on ? switch_request(timeslot, dtmf::CHANNEL_LMS_ON, "CHANNEL_LMS", "_ON")
            : switch_request(timeslot, dtmf::CHANNEL_LMS_OFF, "CHANNEL_LMS", "_OFF");
}

bool TonecReceiverService::enableDTMFReject(unsigned timeslot, bool on) {
  before_request(timeslot);
  bool done = on ? switch_request(timeslot, dtmf::DTMF_REJECTION_ENABLE, "DTMF_REJECTION", "_ENABLE")
                 : switch_request(timeslot, dtmf::DTMF_REJECTION_DISABLE, "DTMF_REJECTION", "_DISABLE");
  if (done) taken(timeslot, kOwedReject);
  return done;
}

bool TonecReceiverService::enable_detector(unsigned timeslot, uint32_t id, bool quiet) {
  dtmf::DetectorEnable r;
  r.timeslot = timeslot;
  r.id = id;
  if (request(dtmf::DTMF_ENABLE_DETECTOR, &r) < 0) {
    int error = errno;
    if (!quiet) put_errno(std::cerr << "DTMF_ENABLE_DETECTOR fail:" << " timeslot=" << timeslot << " id=" << id, error)
        << std::endl;
    return false;
  }
  std::cerr << "DTMF_ENABLE_DETECTOR done:" << " timeslot=" << timeslot << " id=" << id << std::endl;
  return true;
}

bool TonecReceiverService::enableDTMF(TonecReceiver& receiver, bool on) {
  // A detector whose put-back the device has not taken, or that another receiver of the
  // timeslot switched on since, is asked for now.
  if (receiver.m_dtmfEnabled == on && !((receiver.m_unconfirmed | receiver.m_elsewhere) & kDetector)) return true;
  unsigned timeslot = receiver.tonec_timeslot();
  before_request(timeslot);
  if (on) {
    uint32_t id = next_id();  // spent even when the request fails
    if (!enable_detector(timeslot, id)) return false;
    receiver.m_requestId = id;
    receiver.m_dtmfEnabled = true;
    receiver.m_unconfirmed &= ~kDetector;
    taken(timeslot, kOwedDetector);
    made(receiver, kDetector);
    return true;
  }
  if (!disable_detector(timeslot, false)) return false;
  receiver.m_dtmfEnabled = false;
  receiver.m_unconfirmed &= ~kDetector;
  taken(timeslot, kOwedDetector);
  made(receiver, kDetector);
  return true;
}

bool TonecReceiverService::disable_detector(unsigned timeslot, bool quiet) {
  if (request_value(dtmf::DTMF_DISABLE_DETECTOR, timeslot) < 0) {
    int error = errno;
    if (!quiet) put_errno(std::cerr << "DTMF_DISABLE_DETECTOR fail:" << " timeslot=" << timeslot, error) << std::endl;
    return false;
  }
  std::cerr << "DTMF_DISABLE_DETECTOR done:" << " timeslot=" << timeslot << std::endl;
  return true;
}

bool TonecReceiverService::enableToneGenerator(unsigned timeslot, unsigned short f1, unsigned short f2,
                                               unsigned short a1, unsigned short a2) {
  before_request(timeslot);
  if (!dial(timeslot, {f1, f2, a1, a2})) return false;
  taken(timeslot, kOwedGenerator);
  return true;
}

bool TonecReceiverService::dial(unsigned timeslot, const unsigned short (&setting)[4], bool quiet) {
  dtmf::ToneGenerator r;
  r.timeslot = timeslot;
  r.frequency1 = setting[0];
  r.frequency2 = setting[1];
  r.amplitude1 = setting[2];
  r.amplitude2 = setting[3];
  if (request(dtmf::DTMF_DIAL, &r) < 0) {
    int error = errno;
    if (!quiet) put_errno(std::cerr << "DTMF_DIAL" << " fail:" << " timeslot=" << timeslot, error) << std::endl;
    return false;
  }
  return true;
}

bool TonecReceiverService::configureIVA(TonecReceiver& receiver, const LGCP::IVAParams& params) {
  unsigned timeslot = receiver.tonec_timeslot();
  before_request(timeslot);
  if (!opened("configure IVA", timeslot)) return false;
  const int level = static_cast<int>(params.get_det_lvl_dB());
  if (!configure_iva(timeslot, level, false)) return false;
  receiver.m_ivaLevel = level;
  receiver.m_ivaConfigured = true;
  receiver.m_unconfirmed &= ~kIvaConfig;
  made(receiver, kIvaConfig);
  return true;
}

bool TonecReceiverService::configure_iva(unsigned timeslot, int level_db, bool quiet) {
  dtmf::IvaConfig r;
  r.timeslot = timeslot;
  r.level_db = level_db;
  if (request(dtmf::IVA_CONFIGURE_DETECTOR, &r) < 0) {
    int error = errno;
    if (!quiet) put_errno(std::cerr << "IVA_CONFIGURE_DETECTOR" << " fail:" << " timeslot=" << timeslot, error) << std::endl;
    return false;
  }
  std::clog << "IVA_CONFIGURE_DETECTOR" << " ts=" << timeslot << " det_lvl_dB=" << level_db << std::endl;
  return true;
}

bool TonecReceiverService::enableIVA(TonecReceiver& receiver, bool on) {
  unsigned timeslot = receiver.tonec_timeslot();
  before_request(timeslot);
  bool done = on ? switch_request(timeslot, dtmf::IVA_DETECTOR_ENABLE, "IVA_DETECTOR", "_ENABLE")
                 : switch_request(timeslot, dtmf::IVA_DETECTOR_DISABLE, "IVA_DETECTOR", "_DISABLE");
  if (!done) return false;
  receiver.m_ivaEnabled = on;
  receiver.m_unconfirmed &= ~kIva;
  taken(timeslot, kOwedIva);
  made(receiver, kIva);
  return true;
}

int TonecReceiverService::translateSelcal(TonecReceiver& receiver, const TERM::SelcalCommand& cmd) {
  unsigned timeslot = receiver.tonec_timeslot();
  const std::string& signs = cmd.get_signs();
  if (signs.size() < 4) {
    std::cerr << "SELCAL_DIAL fail:" << " timeslot=" << timeslot << " incorect signs:" << signs << std::endl;
    return -1;
  }
  before_request(timeslot);
  dtmf::SelcalDial r;
  r.timeslot = timeslot;
  r.amplitude = cmd.has_amp() ? static_cast<uint16_t>(static_cast<int>(cmd.get_amp())) : kSelcalAmplitude;
  std::memcpy(r.signs, signs.data(), sizeof r.signs);
  int result = request(dtmf::SELCAL_DIAL, &r);
  if (result < 0) {
    int error = errno;
    put_errno(std::cerr << "SELCAL_DIAL" << " fail:" << " timeslot=" << timeslot, error) << std::endl;
  }
  return result;
}

void TonecReceiverService::OnRecord(const uint8_t* record) {
  dtmf::ToneEvent e;
  std::memcpy(static_cast<void*>(&e), record, sizeof e);
  deliver(e.code, e.timeslot, e.timestamp, e.id);
}

void TonecReceiverService::deliver(uint32_t code, uint32_t timeslot, uint32_t timestamp, uint32_t id) {
  auto fields = [&](std::ostream& os) -> std::ostream& {
    return os << " timestamp=" << timestamp << " timeslot=" << timeslot << " code=" << code << " id=" << id;
  };
  fields(std::clog << "dtmf event: ") << std::endl;
  // Two ports may share a timeslot (a mixer channel's input and output): the event is the
  // one whose detection it answers; the lines for a dropped event name the first receiver.
  TonecReceiver* first = nullptr;
  TonecReceiver* r = nullptr;
  Containers::CyclicList& list = TonecReceiver::all();
  for (Containers::CyclicList* n = list.next; n != &list && !r; n = n->next) {
    TonecReceiver* each = TonecReceiver::owner(n);
    if (each->tonec_timeslot() != timeslot) continue;
    if (!first) first = each;
    if ((each->m_dtmfEnabled || each->m_ivaEnabled) && each->m_requestId == id) r = each;
  }
  if (!first) {
    std::cerr << "receive tonec event from unknown timeslot " << timeslot << std::endl;
    return;
  }
  if (!r && !first->m_dtmfEnabled && !first->m_ivaEnabled) {
    fields(std::clog << "ignore spurious dtmf event (DTMF disabled): ") << std::endl;
    return;
  }
  if (!r) {
    fields(std::clog << "ignore spurious dtmf event: ") << " rid=" << first->m_requestId << std::endl;
    return;
  }
  r->tonec_event(TonecReceiver::Params{code, timestamp});
}

void TonecReceiverService::owe(TonecReceiver& r) {
  unsigned what = (r.m_generatorOn ? kOwedGenerator : 0u) | (r.m_dtmfEnabled ? kOwedDetector : 0u) |
                  (r.m_ivaEnabled ? kOwedIva : 0u) | (r.m_rejectEnabled ? kOwedReject : 0u);
  // Nothing of the timeslot is put back for this receiver, the echo canceller included, and
  // none of its events are for it: a later receiver of the timeslot takes them.
  r.m_generatorOn = r.m_dtmfEnabled = r.m_ivaEnabled = r.m_rejectEnabled = r.m_echoCancel = false;
  r.m_unconfirmed = r.m_elsewhere = 0;
  r.m_node.unlink();
  if (what == 0) return;
  const unsigned timeslot = r.tonec_timeslot();
  std::cerr << "tonec: switch-off of timeslot " << timeslot << " put off until the device takes it" << std::endl;
  m_owed.owe(timeslot, what);
}

void TonecReceiverService::receiver_coming() {
  if (!m_owed.empty()) m_owed.carry_out_all();
}

unsigned TonecReceiverService::switches_on(const TonecReceiver& r) {
  return (r.m_dtmfEnabled ? kDetector : 0u) | (r.m_ivaEnabled ? kIva : 0u) | (r.m_rejectEnabled ? kReject : 0u) |
         (r.m_echoCancel ? kLms : 0u);
}

void TonecReceiverService::made(TonecReceiver& setter, unsigned settings) {
  setter.m_elsewhere &= ~settings;
  const unsigned timeslot = setter.tonec_timeslot();
  // A switch the setter turned on is elsewhere for the others; one it turned off is off for all.
  const unsigned on = switches_on(setter);
  constexpr unsigned kSwitches = kDetector | kIva | kReject | kLms;
  Containers::CyclicList& list = TonecReceiver::all();
  for (Containers::CyclicList* n = list.next; n != &list; n = n->next) {
    TonecReceiver& r = *TonecReceiver::owner(n);
    if (&r == &setter || r.tonec_timeslot() != timeslot) continue;
    if (settings & kDtmfConfig) r.m_dtmfConfigured = false;
    if (settings & kIvaConfig) r.m_ivaConfigured = false;
    const unsigned off = settings & kSwitches & ~on;
    if (off & kDetector) r.m_dtmfEnabled = false;
    if (off & kIva) r.m_ivaEnabled = false;
    if (off & kReject) r.m_rejectEnabled = false;
    if (off & kLms) r.m_echoCancel = false;
    r.m_elsewhere = (r.m_elsewhere & ~off) | (settings & on);
    // A sequence of the other receiver still running takes the generator back at its next step.
    if (settings & kGenerator) r.m_generatorOn = false;
    r.m_unconfirmed &= ~settings;
  }
}

void TonecReceiverService::taken(unsigned timeslot, unsigned what) {
  m_owed.taken(timeslot, [what](unsigned& owed) { owed &= ~what; });
}

bool TonecReceiverService::settle() {
  m_owed.carry_out_all();
  const bool done = put_back_all(true);
  return m_owed.empty() && done;
}

bool TonecReceiverService::carry_out_one(unsigned timeslot, unsigned& what) {
  static const unsigned short kOff[4] = {};
  if ((what & kOwedGenerator) && dial(timeslot, kOff, true)) what &= ~kOwedGenerator;
  if ((what & kOwedDetector) && disable_detector(timeslot, true)) what &= ~kOwedDetector;
  if ((what & kOwedIva) && switch_request(timeslot, dtmf::IVA_DETECTOR_DISABLE, "IVA_DETECTOR", "_DISABLE", true))
    what &= ~kOwedIva;
  if ((what & kOwedReject) &&
      switch_request(timeslot, dtmf::DTMF_REJECTION_DISABLE, "DTMF_REJECTION", "_DISABLE", true))
    what &= ~kOwedReject;
  if (what != 0) return false;
  std::clog << "tonec: switch-off of timeslot " << timeslot << " done" << std::endl;
  return true;
}

// The device lost what it held: every live receiver's configuration records, detectors, switches
// and generator setting are put back, with the ids its events are matched by. What the device
// refuses stays wanted, counts as on meanwhile, and is put back on the settle timer.
void TonecReceiverService::OnReopened() {
  // A departed receiver's tone or detector must not outlast the return into the next call.
  m_owed.carry_out_all();
  const auto hold = m_owed.hold();
  Containers::CyclicList& list = TonecReceiver::all();
  for (Containers::CyclicList* n = list.next; n != &list; n = n->next) {
    TonecReceiver& r = *TonecReceiver::owner(n);
    r.m_unconfirmed = (r.m_dtmfConfigured ? kDtmfConfig : 0u) | (r.m_ivaConfigured ? kIvaConfig : 0u) |
                      switches_on(r) | (r.m_generatorOn ? kGenerator : 0u);
    r.m_unconfirmed &= ~r.m_elsewhere;
  }
  if (!put_back_all(false)) settle_later();
}

// Each setting is held by one receiver of its timeslot at most, so the order of the receivers
// does not matter; the order of the records does: one receiver's configuration may govern
// another's switch.
bool TonecReceiverService::put_back_all(bool quiet) {
  Containers::CyclicList& list = TonecReceiver::all();
  for (Containers::CyclicList* n = list.next; n != &list; n = n->next) {
    TonecReceiver& r = *TonecReceiver::owner(n);
    if (r.m_unconfirmed & kConfigs) put_back(r, quiet, kConfigs);
  }
  bool left = false;
  for (Containers::CyclicList* n = list.next; n != &list; n = n->next) {
    TonecReceiver& r = *TonecReceiver::owner(n);
    if (!r.m_unconfirmed && !r.m_putBackLogged) continue;
    put_back(r, quiet, ~kConfigs);
    if (!note_put_back(r.tonec_timeslot(), r.m_unconfirmed != 0, r.m_putBackLogged)) left = true;
  }
  return !left;
}

void TonecReceiverService::put_back(TonecReceiver& r, bool quiet, unsigned settings) {
  const unsigned timeslot = r.tonec_timeslot();
  auto step = [&](unsigned setting, auto&& issue) {
    if ((r.m_unconfirmed & settings & setting) && issue()) r.m_unconfirmed &= ~setting;
  };
  step(kDtmfConfig, [&] { return configure_detector(timeslot, r.m_dtmfConfig, quiet); });
  step(kIvaConfig, [&] { return configure_iva(timeslot, r.m_ivaLevel, quiet); });
  step(kDetector, [&] { return enable_detector(timeslot, r.m_requestId, quiet); });
  step(kIva, [&] { return switch_request(timeslot, dtmf::IVA_DETECTOR_ENABLE, "IVA_DETECTOR", "_ENABLE", quiet); });
  step(kReject,
       [&] { return switch_request(timeslot, dtmf::DTMF_REJECTION_ENABLE, "DTMF_REJECTION", "_ENABLE", quiet); });
  step(kLms, [&] { return switch_request(timeslot, dtmf::CHANNEL_LMS_ON, "CHANNEL_LMS", "_ON", quiet); });
  step(kGenerator, [&] {
    const unsigned short* g = r.m_generator;
    if (!dial(timeslot, {g[0], g[1], g[2], g[3]}, quiet)) return false;
    // A setting of off (after a failed request) is off now.
    if (g[0] == 0 && g[1] == 0 && g[2] == 0 && g[3] == 0) r.m_generatorOn = false;
    return true;
  });
}

}  // namespace Hardware
