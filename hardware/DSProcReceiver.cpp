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

void DSProcReceiver::CleanBeforeDestroy() {
  if (m_vad.state > 0) disableVAD();
  if (m_bss.state > 0) disableBSS();
  if (m_ng.state > 0) disableNG();
  if (m_delaysSet) configureDelays(0, 0, 0);
  if (m_rxGainSet) configureRxGain(0);
  disableToneAll();
  service().owe(*this);
}

}  // namespace Hardware
