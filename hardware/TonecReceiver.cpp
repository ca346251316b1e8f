#include "hardware/TonecReceiver.h"

#include "asn1/schemas/LGCP.h"
#include "asn1/schemas/TERM.h"
#include "hardware/TonecReceiverService.h"

namespace Hardware {

namespace {

// A duration from the controller as a timer interval: negative values would wrap to weeks,
// and waits beyond the loop's clock-fault limit would disturb every timer.
unsigned interval(const ASN1::INTEGER* ms, unsigned fallback) {
  if (!ms) return fallback;
  int v = *ms;
  if (v < 0) return 0;
  return static_cast<unsigned>(v) < TonecReceiver::kMaxStep ? static_cast<unsigned>(v) : TonecReceiver::kMaxStep;
}

}  // namespace

Containers::CyclicList& TonecReceiver::all() {
  static Containers::CyclicList list;
  return list;
}

TonecReceiver::TonecReceiver() {
  // Whatever a departed receiver left on is switched off before a new one takes a timeslot.
  TonecReceiverService::instance()->receiver_coming();
  m_node.owner = this;
  all().add_tail(&m_node);
}

TonecReceiver::~TonecReceiver() {
  m_timer.reset();
  m_node.unlink();
}

TonecReceiver* TonecReceiver::find(unsigned timeslot) {
  Containers::CyclicList& list = all();
  for (Containers::CyclicList* n = list.next; n != &list; n = n->next) {
    if (owner(n)->tonec_timeslot() == timeslot) return owner(n);
  }
  return nullptr;
}

bool TonecReceiver::configureDTMF(const LGCP::DTMFParams& params) {
  return TonecReceiverService::instance()->configureDTMF(*this, params);
}

bool TonecReceiver::echoCancel(bool on) {
  if (!TonecReceiverService::instance()->echoCancel(tonec_timeslot(), on)) return false;
  m_echoCancel = on;
  m_unconfirmed &= ~TonecReceiverService::kLms;
  TonecReceiverService::instance()->made(*this, TonecReceiverService::kLms);
  return true;
}

bool TonecReceiver::enableToneGenerator(unsigned short f1, unsigned short f2, unsigned short a1, unsigned short a2) {
  bool done = TonecReceiverService::instance()->enableToneGenerator(tonec_timeslot(), f1, f2, a1, a2);
  // After a failure the generator's state is not known: it is to be switched off (when the device
  // comes back, and at destruction), not set as the refused request asked.
  const unsigned short setting[4] = {f1, f2, a1, a2};
  for (int i = 0; i < 4; ++i) m_generator[i] = done ? setting[i] : 0;
  m_generatorOn = !done || f1 != 0 || f2 != 0 || a1 != 0 || a2 != 0;
  if (done) {
    m_unconfirmed &= ~TonecReceiverService::kGenerator;
    TonecReceiverService::instance()->made(*this, TonecReceiverService::kGenerator);
  }
  return done;
}

bool TonecReceiver::configureIVA(const LGCP::IVAParams& params) {
  return TonecReceiverService::instance()->configureIVA(*this, params);
}

int TonecReceiver::translateSelcal(const TERM::SelcalCommand& cmd) {
  return TonecReceiverService::instance()->translateSelcal(*this, cmd);
}

// The service keeps the detector flags, which are also what CleanBeforeDestroy undoes.
bool TonecReceiver::enableDTMF(bool on) { return TonecReceiverService::instance()->enableDTMF(*this, on); }

bool TonecReceiver::enableIVA(bool on) { return TonecReceiverService::instance()->enableIVA(*this, on); }

bool TonecReceiver::enableDTMFReject(bool on) {
  if (!TonecReceiverService::instance()->enableDTMFReject(tonec_timeslot(), on)) return false;
  m_rejectEnabled = on;
  m_unconfirmed &= ~TonecReceiverService::kReject;
  TonecReceiverService::instance()->made(*this, TonecReceiverService::kReject);
  return true;
}

bool TonecReceiver::disableToneGenerator(bool force) {
  if (!force && !m_busy) return false;
  // Whatever sequence holds the timer (a dialling, or the ring-back when forced) ends here;
  // a ring-back left armed would switch the generator on again at its next step.
  m_timer.reset();
  m_busy = false;
  return enableToneGenerator(0, 0, 0, 0);
}

bool TonecReceiver::translateDTMF(const LGCP::TranslateDtmfParams& params) {
  m_dial = std::make_unique<LGCP::TranslateDtmfParams>(params);
  if (m_busy) return true;
  m_busy = true;
  return OnDialStep();
}

void TonecReceiver::OnDialTone() { OnDialStep(); }

bool TonecReceiver::OnDialStep() {
  if (!m_dial || m_dial->get_digits().empty()) {
    bool done = disableToneGenerator(true);
    tone_gen_complete();  // may destroy this receiver
    return done;
  }
  LGCP::TranslateDtmfParams& p = *m_dial;
  auto& digits = p.get_digits();
  const LGCP::DualTone& tone = digits[0];
  auto a1 = static_cast<unsigned short>(p.has_amp1() ? static_cast<int>(p.get_amp1()) : kDialAmplitude);
  auto a2 = static_cast<unsigned short>(p.has_amp2() ? static_cast<int>(p.get_amp2()) : kDialAmplitude);
  bool done = enableToneGenerator(static_cast<unsigned short>(static_cast<int>(tone.get_freq1())),
                                  static_cast<unsigned short>(static_cast<int>(tone.get_freq2())), a1, a2);
  digits.erase(digits.begin());
  unsigned duration = interval(p.has_toneDuration() ? &p.get_toneDuration() : nullptr, kToneDuration);
  m_timer.set(duration, &TonecReceiver::OnDialPause, this);
  return done;
}

void TonecReceiver::OnDialPause() {
  enableSilence();
  unsigned duration =
      interval(m_dial && m_dial->has_pauseDuration() ? &m_dial->get_pauseDuration() : nullptr, kPauseDuration);
  m_timer.set(duration, &TonecReceiver::OnDialTone, this);
}

// The ring-back takes the timer over; a dialling that held it is over, so it must not stay
// marked as running (that would keep every later dialling from starting).
bool TonecReceiver::activateAudibleCall() {
  m_busy = false;
  m_dial.reset();
  return OnRingStep();
}

void TonecReceiver::OnRingTone() { OnRingStep(); }

bool TonecReceiver::OnRingStep() {
  bool done = enableToneGenerator(kRingFrequency, 0, kRingAmplitude, kRingAmplitude);
  m_timer.set(kRingOn, &TonecReceiver::OnRingSilence, this);
  return done;
}

void TonecReceiver::OnRingSilence() {
  enableSilence();
  m_timer.set(kRingOff, &TonecReceiver::OnRingTone, this);
}

void TonecReceiver::cancelAudibleCall() {
  if (m_busy) return;
  disableToneGenerator(true);
}

TonecReceiver::OnElsewhere TonecReceiver::others_on() const {
  OnElsewhere on;
  const unsigned timeslot = tonec_timeslot();
  Containers::CyclicList& list = all();
  for (Containers::CyclicList* n = list.next; n != &list; n = n->next) {
    const TonecReceiver* r = owner(n);
    if (r == this || r->tonec_timeslot() != timeslot) continue;
    on.generator = on.generator || r->m_generatorOn || r->m_timer.is_set();
    // What another receiver turned on since is not this one's to keep on.
    on.detector = on.detector || (r->m_dtmfEnabled && !(r->m_elsewhere & TonecReceiverService::kDetector));
    on.iva = on.iva || (r->m_ivaEnabled && !(r->m_elsewhere & TonecReceiverService::kIva));
    on.reject = on.reject || (r->m_rejectEnabled && !(r->m_elsewhere & TonecReceiverService::kReject));
  }
  return on;
}

// A generator left on would sound into the next call on the timeslot; a sequence left armed
// would switch it on again. Another live receiver of the timeslot (the other port of a mixer
// channel, or the slot the board gave a lost channel's number to before the loss was handled
// here) keeps what it has on: a switch-off by the timeslot's number would be a switch-off of
// that receiver's feature.
void TonecReceiver::CleanBeforeDestroy() {
  const OnElsewhere others = others_on();
  if (m_generatorOn || m_timer.is_set()) {
    if (others.generator) {
      // This receiver's sequence ends; the generator is the other receiver's now.
      m_timer.reset();
      m_busy = false;
      m_dial.reset();
      m_generatorOn = false;
    } else {
      disableToneGenerator(true);
    }
  }
  if (m_dtmfEnabled) {
    if (others.detector) m_dtmfEnabled = false;
    else enableDTMF(false);
  }
  if (m_ivaEnabled) {
    if (others.iva) m_ivaEnabled = false;
    else enableIVA(false);
  }
  if (m_rejectEnabled) {
    if (others.reject) m_rejectEnabled = false;
    else enableDTMFReject(false);
  }
  TonecReceiverService::instance()->owe(*this);
}

}  // namespace Hardware
