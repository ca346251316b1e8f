#include "hardware/DSProcReceiver.h"

#include "hardware/DSProcReceiverService.h"

namespace Hardware {

namespace {

DSProcReceiverService& service() { return *DSProcReceiverService::instance(); }

}  // namespace

// The tone receivers keep a list of their own.
Containers::CyclicList& DSProcReceiver::all() {
  static Containers::CyclicList list;
  return list;
}

DSProcReceiver::DSProcReceiver() {
  // Whatever a departed receiver left on is switched off before a new one takes a timeslot.
  service().receiver_coming();
  m_node.owner = this;
  all().add_tail(&m_node);
}

DSProcReceiver::~DSProcReceiver() { m_node.unlink(); }

DSProcReceiver* DSProcReceiver::find(unsigned timeslot) {
  Containers::CyclicList& list = all();
  for (Containers::CyclicList* n = list.next; n != &list; n = n->next) {
    if (owner(n)->dsproc_timeslot() == timeslot) return owner(n);
  }
  return nullptr;
}

bool DSProcReceiver::configureVAD(const LGCP::VADParams& params) { return service().configureVAD(*this, params); }
bool DSProcReceiver::enableVAD(bool on) { return service().enableVAD(*this, on); }
bool DSProcReceiver::enableBSS(bool on) { return service().enableBSS(*this, on); }
bool DSProcReceiver::enableNG(bool on) { return service().enableNG(*this, on); }
bool DSProcReceiver::configureSD() { return service().configureSD(*this); }
bool DSProcReceiver::enableSD(bool on) { return service().enableSD(*this, on); }
bool DSProcReceiver::enableMute(bool first, bool second) { return service().enableMute(*this, first, second); }

bool DSProcReceiver::configureDelays(unsigned rx, unsigned tx, unsigned selcal) {
  if (!service().configureDelays(*this, rx, tx, selcal)) return false;
  m_delaysSet = rx != 0 || tx != 0 || selcal != 0;
  m_delays[0] = rx;
  m_delays[1] = tx;
  m_delays[2] = selcal;
  return true;
}

bool DSProcReceiver::configureRxGain(char gain) {
  if (!service().configureRxGain(*this, gain)) return false;
  m_rxGainSet = gain != 0;
  m_rxGain = gain;
  return true;
}

bool DSProcReceiver::configureToneFilter(unsigned freq, unsigned enable, int duration, int level) {
  if (!service().configureToneFilter(*this, freq, enable, duration, level)) return false;
  if (enable) m_toneFilters = true;
  return true;
}

bool DSProcReceiver::disableToneAll() {
  if (!service().disableToneAll(*this)) return false;
  m_toneFilters = false;
  return true;
}

DSProcReceiver::OnElsewhere DSProcReceiver::others_on() const {
  OnElsewhere on;
  const unsigned timeslot = dsproc_timeslot();
  Containers::CyclicList& list = all();
  for (Containers::CyclicList* n = list.next; n != &list; n = n->next) {
    const DSProcReceiver* r = owner(n);
    if (r == this || r->dsproc_timeslot() != timeslot) continue;
    // What another receiver turned on since is not this one's to keep on.
    auto held = [r](const Feature& f, uint32_t setting) { return f.state > 0 && !(r->m_elsewhere & setting); };
    on.vad = on.vad || held(r->m_vad, DSProcReceiverService::kVadOn);
    on.bss = on.bss || held(r->m_bss, DSProcReceiverService::kBssOn);
    on.ng = on.ng || held(r->m_ng, DSProcReceiverService::kNgOn);
    on.delays = on.delays || r->m_delaysSet;
    on.rxGain = on.rxGain || r->m_rxGainSet;
    on.toneFilters = on.toneFilters || r->m_toneFilters;
  }
  return on;
}

// Another live receiver of the timeslot (the other port of a mixer channel, or the slot the
// board gave a lost channel's number to before the loss was handled here) keeps what it has set:
// a switch-off by the timeslot's number would be a switch-off of that receiver's setting.
void DSProcReceiver::CleanBeforeDestroy() {
  const OnElsewhere others = others_on();
  if (m_vad.state > 0) {
    if (others.vad) m_vad.state = 0;
    else disableVAD();
  }
  if (m_bss.state > 0) {
    if (others.bss) m_bss.state = 0;
    else disableBSS();
  }
  if (m_ng.state > 0) {
    if (others.ng) m_ng.state = 0;
    else disableNG();
  }
  if (m_delaysSet) {
    if (others.delays) m_delaysSet = false;
    else configureDelays(0, 0, 0);
  }
  if (m_rxGainSet) {
    if (others.rxGain) m_rxGainSet = false;
    else configureRxGain(0);
  }
  // Switched off whether or not this receiver switched one on, unless another receiver has one.
  if (others.toneFilters) m_toneFilters = false;
  else disableToneAll();
  service().owe(*this);
}

}  // namespace Hardware
