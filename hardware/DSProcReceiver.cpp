#include "hardware/DSProcReceiver.h"

#include "board/dsp.h"
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

DSProcReceiver::~DSProcReceiver() {
  // An owner that skipped CleanBeforeDestroy leaves the device as it is.
  if (!m_node.empty()) service().forget(*this);
}

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
  return service().configureDelays(*this, rx, tx, selcal);
}
bool DSProcReceiver::configureRxGain(char gain) { return service().configureRxGain(*this, gain); }
bool DSProcReceiver::configureToneFilter(unsigned freq, unsigned enable, int duration, int level) {
  return service().configureToneFilter(*this, freq, enable, duration, level);
}
bool DSProcReceiver::disableToneAll() { return service().disableToneAll(*this); }

// Another live receiver of the timeslot (the other port of a mixer channel, or the slot the
// board gave a lost channel's number to before the loss was handled here) keeps what it wants:
// the service switches off only what none of them does.
void DSProcReceiver::CleanBeforeDestroy() { service().leave(*this); }

namespace {

using Settings = DSProcReceiverService::Settings;

// The receiver's wish of a setting of its timeslot, or null.
template <class Value>
const Value* wish_of(const DSProcReceiver& r, SharedSetting<Value> Settings::*setting) {
  return (service().settings(r.dsproc_timeslot()).*setting).wishes.of(&r);
}

// A feature as the receiver wished it; never_set: its state before any wish.
DSProcReceiver::Feature feature(const DSProcReceiver& r, SharedSetting<Enable> Settings::*setting, int never_set) {
  const Enable* e = wish_of(r, setting);
  return e ? DSProcReceiver::Feature{e->on() ? 1 : 0, e->id} : DSProcReceiver::Feature{never_set, 0};
}

}  // namespace

DSProcReceiver::Feature DSProcReceiver::vad() const { return feature(*this, &Settings::vad, -1); }
DSProcReceiver::Feature DSProcReceiver::bss() const { return feature(*this, &Settings::bss, 0); }
DSProcReceiver::Feature DSProcReceiver::ng() const { return feature(*this, &Settings::ng, 0); }
DSProcReceiver::Feature DSProcReceiver::sd() const { return feature(*this, &Settings::sd, -1); }

int DSProcReceiver::muteFirst() const {
  const Enable* e = wish_of(*this, &Settings::mute);
  return e ? (e->mask & board::dsp::kMuteFirst ? 1 : 0) : -1;
}

int DSProcReceiver::muteSecond() const {
  const Enable* e = wish_of(*this, &Settings::mute);
  return e ? (e->mask & board::dsp::kMuteSecond ? 1 : 0) : -1;
}

uint32_t DSProcReceiver::muteId() const {
  const Enable* e = wish_of(*this, &Settings::mute);
  return e ? e->id : 0;
}

bool DSProcReceiver::delaysSet() const {
  const DSProcReceiverService::Delays* d = wish_of(*this, &Settings::delays);
  return d && *d != DSProcReceiverService::Delays{};
}

bool DSProcReceiver::rxGainSet() const {
  const int8_t* gain = wish_of(*this, &Settings::rxGain);
  return gain && *gain != 0;
}

uint32_t DSProcReceiver::unconfirmed() const { return service().unconfirmed(*this); }

size_t DSProcReceiver::toneFilterRecords() const {
  size_t n = 0;
  for (const auto& entry : service().settings(dsproc_timeslot()).toneFilters) {
    const DSProcReceiverService::ToneFilter* f = entry.second.wishes.of(this);
    n += f && f->enable != 0 ? 1 : 0;
  }
  return n;
}

}  // namespace Hardware
