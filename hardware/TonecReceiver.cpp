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
  // An owner that skipped CleanBeforeDestroy leaves the device as it is.
  if (!m_node.empty()) TonecReceiverService::instance()->forget(*this);
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

bool TonecReceiver::echoCancel(bool on) { return TonecReceiverService::instance()->echoCancel(*this, on); }

bool TonecReceiver::enableToneGenerator(unsigned short f1, unsigned short f2, unsigned short a1, unsigned short a2) {
  return TonecReceiverService::instance()->enableToneGenerator(*this, f1, f2, a1, a2);
}

bool TonecReceiver::configureIVA(const LGCP::IVAParams& params) {
  return TonecReceiverService::instance()->configureIVA(*this, params);
}

int TonecReceiver::translateSelcal(const TERM::SelcalCommand& cmd) {
  return TonecReceiverService::instance()->translateSelcal(*this, cmd);
}

bool TonecReceiver::enableDTMF(bool on) { return TonecReceiverService::instance()->enableDTMF(*this, on); }

bool TonecReceiver::enableIVA(bool on) { return TonecReceiverService::instance()->enableIVA(*this, on); }

bool TonecReceiver::enableDTMFReject(bool on) {
  return TonecReceiverService::instance()->enableDTMFReject(*this, on);
}

namespace {

template <class Value>
const Value* wish_of(const TonecReceiver& r, SharedSetting<Value> TonecReceiverService::Settings::*setting) {
  return (TonecReceiverService::instance()->settings(r.tonec_timeslot()).*setting).wishes.of(&r);
}

}  // namespace

bool TonecReceiver::dtmfEnabled() const {
  const Enable* e = wish_of(*this, &TonecReceiverService::Settings::detector);
  return e && e->on();
}

bool TonecReceiver::ivaEnabled() const {
  const bool* on = wish_of(*this, &TonecReceiverService::Settings::iva);
  return on && *on;
}

bool TonecReceiver::rejectEnabled() const {
  const bool* on = wish_of(*this, &TonecReceiverService::Settings::reject);
  return on && *on;
}

unsigned TonecReceiver::unconfirmed() const { return TonecReceiverService::instance()->unconfirmed(*this); }

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

// A generator left on would sound into the next call on the timeslot, and a sequence left armed
// would switch it on again: the sequences end here, and the service switches off what no other
// live receiver of the timeslot (the other port of a mixer channel, or the slot the board gave a
// lost channel's number to before the loss was handled here) still wants.
void TonecReceiver::CleanBeforeDestroy() {
  m_timer.reset();
  m_busy = false;
  m_dial.reset();
  TonecReceiverService::instance()->leave(*this);
}

}  // namespace Hardware
