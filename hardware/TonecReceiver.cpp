#include "hardware/TonecReceiver.h"

#include "asn1/schemas/LGCP.h"
#include "asn1/schemas/TERM.h"
#include "hardware/TonecReceiverService.h"

namespace Hardware {

namespace {

// Every live tone receiver, in creation order.
Containers::CyclicList& receivers() {
  static Containers::CyclicList list;
  return list;
}

// A duration from the controller as a timer interval: negative values would wrap to weeks,
// and waits beyond the loop's clock-fault limit would disturb every timer.
unsigned interval(const ASN1::INTEGER* ms, unsigned fallback) {
  if (!ms) return fallback;
  int v = *ms;
  if (v < 0) return 0;
  return static_cast<unsigned>(v) < TonecReceiver::kMaxStep ? static_cast<unsigned>(v) : TonecReceiver::kMaxStep;
}

}  // namespace

TonecReceiver::TonecReceiver() {
  m_node.owner = this;
  receivers().add_tail(&m_node);
}

TonecReceiver::~TonecReceiver() {
  m_timer.reset();
  m_node.unlink();
}

TonecReceiver* TonecReceiver::find(unsigned timeslot) {
  Containers::CyclicList& list = receivers();
  for (Containers::CyclicList* n = list.next; n != &list; n = n->next) {
    TonecReceiver* r = static_cast<Node*>(n)->owner;
    if (r->tonec_timeslot() == timeslot) return r;
  }
  return nullptr;
}

bool TonecReceiver::configureDTMF(const LGCP::DTMFParams& params) {
  return TonecReceiverService::instance()->configureDTMF(tonec_timeslot(), params);
}

bool TonecReceiver::echoCancel(bool on) { return TonecReceiverService::instance()->echoCancel(tonec_timeslot(), on); }

bool TonecReceiver::enableToneGenerator(unsigned short f1, unsigned short f2, unsigned short a1, unsigned short a2) {
  return TonecReceiverService::instance()->enableToneGenerator(tonec_timeslot(), f1, f2, a1, a2);
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

void TonecReceiver::translateDTMF(const LGCP::TranslateDtmfParams& params) {
  m_dial = std::make_unique<LGCP::TranslateDtmfParams>(params);
  if (m_busy) return;
  m_busy = true;
  OnDialTone();
}

void TonecReceiver::OnDialTone() {
  if (!m_dial || m_dial->get_digits().empty()) {
    disableToneGenerator(true);
    tone_gen_complete();  // may destroy this receiver
    return;
  }
  LGCP::TranslateDtmfParams& p = *m_dial;
  auto& digits = p.get_digits();
  const LGCP::DualTone& tone = digits[0];
  auto a1 = static_cast<unsigned short>(p.has_amp1() ? static_cast<int>(p.get_amp1()) : kDialAmplitude);
  auto a2 = static_cast<unsigned short>(p.has_amp2() ? static_cast<int>(p.get_amp2()) : kDialAmplitude);
  enableToneGenerator(static_cast<unsigned short>(static_cast<int>(tone.get_freq1())),
                      static_cast<unsigned short>(static_cast<int>(tone.get_freq2())), a1, a2);
  digits.erase(digits.begin());
  unsigned duration = interval(p.has_toneDuration() ? &p.get_toneDuration() : nullptr, kToneDuration);
  m_timer.set(duration, &TonecReceiver::OnDialPause, this);
}

void TonecReceiver::OnDialPause() {
  enableSilence();
  unsigned duration =
      interval(m_dial && m_dial->has_pauseDuration() ? &m_dial->get_pauseDuration() : nullptr, kPauseDuration);
  m_timer.set(duration, &TonecReceiver::OnDialTone, this);
}

// The ring-back takes the timer over; a dialling that held it is over, so it must not stay
// marked as running (that would keep every later dialling from starting).
void TonecReceiver::activateAudibleCall() {
  m_busy = false;
  m_dial.reset();
  OnRingTone();
}

void TonecReceiver::OnRingTone() {
  enableToneGenerator(kRingFrequency, 0, kRingAmplitude, kRingAmplitude);
  m_timer.set(kRingOn, &TonecReceiver::OnRingSilence, this);
}

void TonecReceiver::OnRingSilence() {
  enableSilence();
  m_timer.set(kRingOff, &TonecReceiver::OnRingTone, this);
}

void TonecReceiver::cancelAudibleCall() {
  if (m_busy) return;
  disableToneGenerator(true);
}

void TonecReceiver::CleanBeforeDestroy() {
  if (m_dtmfEnabled) enableDTMF(false);
  if (m_ivaEnabled) enableIVA(false);
  if (m_rejectEnabled) enableDTMFReject(false);
}

}  // namespace Hardware
