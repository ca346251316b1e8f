#include "hardware/TonecReceiverService.h"

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
      m_book([this](unsigned timeslot, Settings& s, bool quiet) { settle_one(timeslot, s, quiet); },
             [this] { settle_later(); }) {}

template <class Value>
void TonecReceiverService::took(TonecReceiver& receiver, SharedSetting<Value> Settings::*setting, const Value& value) {
  const unsigned timeslot = receiver.tonec_timeslot();
  m_book.took(timeslot, m_book.at(timeslot).*setting, &receiver, !receiver.m_node.empty(), value);
}

bool TonecReceiverService::configureDTMF(TonecReceiver& receiver, const LGCP::DTMFParams& params) {
  const unsigned timeslot = receiver.tonec_timeslot();
  before_request(timeslot);
  if (!opened("configure DTMF", timeslot)) return false;
  const std::array<uint32_t, 4> config{static_cast<uint32_t>(static_cast<int>(params.get_threshold().get_twist())),
                                       static_cast<uint32_t>(static_cast<int>(params.get_threshold().get_ratio())),
                                       static_cast<uint32_t>(static_cast<int>(params.get_threshold().get_noise())),
                                       static_cast<uint32_t>(static_cast<int>(params.get_level().get_silence()))};
  if (!configure_detector(timeslot, config, false)) return false;
  took(receiver, &Settings::dtmfConfig, config);
  return true;
}

bool TonecReceiverService::configure_detector(unsigned timeslot, const std::array<uint32_t, 4>& config, bool quiet) {
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

bool TonecReceiverService::switch_iva(unsigned timeslot, bool on, bool quiet) {
  return on ? switch_request(timeslot, dtmf::IVA_DETECTOR_ENABLE, "IVA_DETECTOR", "_ENABLE", quiet)
            : switch_request(timeslot, dtmf::IVA_DETECTOR_DISABLE, "IVA_DETECTOR", "_DISABLE", quiet);
}

bool TonecReceiverService::switch_reject(unsigned timeslot, bool on, bool quiet) {
  return on ? switch_request(timeslot, dtmf::DTMF_REJECTION_ENABLE, "DTMF_REJECTION", "_ENABLE", quiet)
            : switch_request(timeslot, dtmf::DTMF_REJECTION_DISABLE, "DTMF_REJECTION", "_DISABLE", quiet);
}

bool TonecReceiverService::switch_lms(unsigned timeslot, bool on, bool quiet) {
  return on ? switch_request(timeslot, dtmf::CHANNEL_LMS_ON, "CHANNEL_LMS", "_ON", quiet)
            : switch_request(timeslot, dtmf::CHANNEL_LMS_OFF, "CHANNEL_LMS", "_OFF", quiet);
}

bool TonecReceiverService::echoCancel(TonecReceiver& receiver, bool on) {
  const unsigned timeslot = receiver.tonec_timeslot();
  before_request(timeslot);
  if (!switch_lms(timeslot, on, false)) return false;
  took(receiver, &Settings::lms, on);
  return true;
}

bool TonecReceiverService::enableDTMFReject(TonecReceiver& receiver, bool on) {
  const unsigned timeslot = receiver.tonec_timeslot();
  before_request(timeslot);
  if (!switch_reject(timeslot, on, false)) return false;
  took(receiver, &Settings::reject, on);
  return true;
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

bool TonecReceiverService::switch_detector(unsigned timeslot, const Enable& to, bool quiet) {
  return to.on() ? enable_detector(timeslot, to.id, quiet) : disable_detector(timeslot, quiet);
}

bool TonecReceiverService::enableDTMF(TonecReceiver& receiver, bool on) {
  const unsigned timeslot = receiver.tonec_timeslot();
  // Nothing to ask when the device holds off, or this receiver's own enable, already.
  const SharedSetting<Enable>& detector = m_book.view(timeslot).detector;
  const Enable* mine = detector.wishes.of(&receiver);
  const Enable asked = on && mine ? *mine : Enable{};
  if (asked.on() == on && detector.holds(asked)) {
    took(receiver, &Settings::detector, asked);
    return true;
  }
  before_request(timeslot);
  if (!on) {
    if (!disable_detector(timeslot, false)) return false;
    took(receiver, &Settings::detector, Enable{});
    return true;
  }
  const uint32_t id = next_id();  // spent even when the request fails
  if (!enable_detector(timeslot, id, false)) return false;
  receiver.m_requestId = id;
  took(receiver, &Settings::detector, Enable{1, id});
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

bool TonecReceiverService::enableToneGenerator(TonecReceiver& receiver, unsigned short f1, unsigned short f2,
                                               unsigned short a1, unsigned short a2) {
  const unsigned timeslot = receiver.tonec_timeslot();
  before_request(timeslot);
  const Generator setting{f1, f2, a1, a2};
  if (dial(timeslot, setting, false)) {
    took(receiver, &Settings::generator, setting);
    return true;
  }
  // After a refusal the generator's state is not known: it is to be switched off, not set as the
  // refused request asked nor as this receiver asked before; a newer wish of another receiver
  // stands.
  SharedSetting<Generator>& generator = m_book.at(timeslot).generator;
  const auto* newest = generator.wishes.newest();
  if ((!newest || newest->user == &receiver) && !receiver.m_node.empty()) generator.wishes.wish(&receiver, Generator{});
  else generator.wishes.drop(&receiver);
  generator.unknown();
  m_book.unsettle(timeslot);
  settle_later();
  return false;
}

bool TonecReceiverService::dial(unsigned timeslot, const Generator& setting, bool quiet) {
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
  const unsigned timeslot = receiver.tonec_timeslot();
  before_request(timeslot);
  if (!opened("configure IVA", timeslot)) return false;
  const int level = static_cast<int>(params.get_det_lvl_dB());
  if (!configure_iva(timeslot, level, false)) return false;
  took(receiver, &Settings::ivaConfig, level);
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
  const unsigned timeslot = receiver.tonec_timeslot();
  before_request(timeslot);
  if (!switch_iva(timeslot, on, false)) return false;
  took(receiver, &Settings::iva, on);
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
  // Several receivers may share a timeslot (the ports of a mixer channel). While its detector or
  // IVA is on (the newest wish of each), an event is the one's whose detector enable it answers
  // (IVA results come as detector events too), even when a newer enable came while it was on its
  // way; the lines for a dropped event name the first receiver.
  const Settings& s = settings(timeslot);
  const auto* dtmf_now = s.detector.wishes.newest();
  const auto* iva_now = s.iva.wishes.newest();
  const bool detecting = (dtmf_now && dtmf_now->value.on()) || (iva_now && iva_now->value);
  auto detects = [&s](const TonecReceiver* r) {
    const Enable* dtmf = s.detector.wishes.of(r);
    const bool* iva = s.iva.wishes.of(r);
    return (dtmf && dtmf->on()) || (iva && *iva);
  };
  TonecReceiver* first = nullptr;
  TonecReceiver* r = nullptr;
  Containers::CyclicList& list = TonecReceiver::all();
  for (Containers::CyclicList* n = list.next; n != &list && !r; n = n->next) {
    TonecReceiver* each = TonecReceiver::owner(n);
    if (each->tonec_timeslot() != timeslot) continue;
    if (!first) first = each;
    if (detecting && each->m_requestId == id && detects(each)) r = each;
  }
  if (!first) {
    std::cerr << "receive tonec event from unknown timeslot " << timeslot << std::endl;
    return;
  }
  if (!r && !(detecting && detects(first))) {
    fields(std::clog << "ignore spurious dtmf event (DTMF disabled): ") << std::endl;
    return;
  }
  if (!r) {
    fields(std::clog << "ignore spurious dtmf event: ") << " rid=" << first->m_requestId << std::endl;
    return;
  }
  r->tonec_event(TonecReceiver::Params{code, timestamp});
}

void TonecReceiverService::leave(TonecReceiver& receiver) {
  receiver.m_node.unlink();
  const unsigned timeslot = receiver.tonec_timeslot();
  m_book.leave(timeslot, &receiver);
  m_book.settle(timeslot, false);
}

void TonecReceiverService::forget(TonecReceiver& receiver) {
  receiver.m_node.unlink();
  m_book.forget(&receiver);
}

void TonecReceiverService::receiver_coming() { m_book.settle_all(true); }

unsigned TonecReceiverService::unconfirmed(const TonecReceiver& receiver) const {
  const Settings& s = settings(receiver.tonec_timeslot());
  const std::pair<bool, unsigned> bits[] = {
      {s.dtmfConfig.unconfirmed_for(&receiver), kDtmfConfig}, {s.ivaConfig.unconfirmed_for(&receiver), kIvaConfig},
      {s.detector.unconfirmed_for(&receiver), kDetector},     {s.iva.unconfirmed_for(&receiver), kIva},
      {s.reject.unconfirmed_for(&receiver), kReject},         {s.lms.unconfirmed_for(&receiver), kLms},
      {s.generator.unconfirmed_for(&receiver), kGenerator}};
  unsigned out = 0;
  for (const auto& [unconfirmed, bit] : bits) out |= unconfirmed ? bit : 0u;
  return out;
}

bool TonecReceiverService::settle() { return m_book.settle_all(true); }

void TonecReceiverService::settle_one(unsigned timeslot, Settings& s, bool quiet) {
  const auto dial_to = [&](const Generator& g) { return dial(timeslot, g, quiet); };
  const auto detector_to = [&](const Enable& e) { return switch_detector(timeslot, e, quiet); };
  const auto iva_to = [&](bool on) { return switch_iva(timeslot, on, quiet); };
  const auto reject_to = [&](bool on) { return switch_reject(timeslot, on, quiet); };
  // What no live receiver wants any more, switched off in the order of the receivers' clean-up:
  // a generator left on would sound into the next call on the timeslot.
  if (!s.generator.live()) s.generator.bring(dial_to);
  if (!s.detector.live()) s.detector.bring(detector_to);
  if (!s.iva.live()) s.iva.bring(iva_to);
  if (!s.reject.live()) s.reject.bring(reject_to);
  // What the live receivers want: configuration records first, and a detector switched on only
  // once the record it runs on was taken (until then it would run on the device's defaults).
  if (s.dtmfConfig.live()) s.dtmfConfig.bring([&](const auto& c) { return configure_detector(timeslot, c, quiet); });
  if (s.ivaConfig.live()) s.ivaConfig.bring([&](int level) { return configure_iva(timeslot, level, quiet); });
  if (s.detector.live() && (!s.detector.target()->on() || s.dtmfConfig.settled())) s.detector.bring(detector_to);
  if (s.iva.live() && (!*s.iva.target() || s.ivaConfig.settled())) s.iva.bring(iva_to);
  if (s.reject.live()) s.reject.bring(reject_to);
  if (s.lms.live()) s.lms.bring([&](bool on) { return switch_lms(timeslot, on, quiet); });
  if (s.generator.live()) s.generator.bring(dial_to);
  using Book = TimeslotBook<Settings>;
  note_pass(timeslot, Book::owes_clean_up(s), Book::owes_put_back(s), Book::wished(s), s.notes);
}

// The device lost what it held: every timeslot's settings are given back as the live receivers
// want them, with the ids their events are matched by, after what departed receivers left on
// is switched off.
void TonecReceiverService::OnReopened() { m_book.lost(false); }

}  // namespace Hardware
