#include "slots/Slot.h"

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <iostream>

#include "board/rtp.h"
#include "foundation/Fd.h"
#include "hardware/SwitchRoutes.h"
#include "hardware/SwitchUsers.h"
#include "slots/Connection.h"
#include "slots/SlotFactory.h"
#include "slots/Slots.h"

Slot::Slot() = default;

// A slot normally leaves every list before it is deleted; whatever path deleted it, no other
// slot and no factory keeps a pointer to it afterwards.
Slot::~Slot() {
  if (factory) factory->Remove(this);
  SwitchUsers::forget(this);
  LogicalDisconnect();
  for (Slot* sink : sinks)
    if (sink->source == this) sink->source = nullptr;
}

int Slot::GetTrunk() { return -1; }
int Slot::GetTrunkTimeSlot() { return -1; }
void Slot::OnTrunkStatus(unsigned, ACP::TrunkState::NamedNumber const&) {}
void Slot::IAfterCreate() {}
bool Slot::IBeforeDestroy() { return true; }
bool Slot::IActivate(TERM::TermActivateParams const&) { return false; }
bool Slot::IDeactivate() { return false; }
bool Slot::IUserData(std::vector<char> const&) { return false; }
bool Slot::Ioctl(LGCP::IoctlParams const&) { return false; }
int Slot::GetConnectionPriority() { return 0; }
bool Slot::IHwConnectTransmitter(Slot& sink) { return MuxConnect(*this, sink); }
bool Slot::IHwConnectReceiver(Slot& src) { return MuxConnect(src, *this); }
bool Slot::IHwDisconnectTransmitter(Slot& sink) { return MuxDisconnect(sink); }
bool Slot::IHwDisconnectReceiver(Slot&) { return MuxDisconnect(*this); }
bool Slot::IHwTransmitterStands(Slot&) { return true; }
bool Slot::IHwReceiverStands(Slot&) { return true; }
bool Slot::IHwAcceptsSource(Slot&) { return true; }
bool Slot::IOnOutputStream() { return false; }
bool Slot::IOnInputStream() { return false; }
void Slot::IOnOutputRelease() {}
void Slot::IOnInputRelease() {}
void Slot::IOnOutputMade() {}
void Slot::IOnInputMade() {}
int Slot::IGetTransmitChannel() { return -1; }
int Slot::IGetReceiveChannel() { return -1; }
void Slot::IReleaseChannel() {}

void Slot::Put(std::ostream& os) const {
  if (number < Slots::kSlots) {
    os << std::setw(2) << std::setfill('0') << number << std::setfill(' ');
  } else if (number == kNoNumber) {
    os << "na";
  } else {
    os << 'i' << number;
  }
  os << ':' << GetName();
}

std::ostream& operator<<(std::ostream& os, Slot const& slot) {
  slot.Put(os);
  return os;
}

bool Slot::SendSignal(LGCP::Signal const& signal) { return Slots::instance()->SendSlotSignal(*this, signal); }

namespace {

// Sends one signal whose alternative `set` stores a copy of the value.
template <class T, class V>
bool SendAs(Slot& slot, void (LGCP::Signal::*set)(T), V const& value) {
  LGCP::Signal s;
  (s.*set)(value);
  return slot.SendSignal(s);
}

}  // namespace

void Slot::OnTonecEvent(LGCP::TonecEvent const& e) { SendAs(*this, &LGCP::Signal::set_tonec, e); }
void Slot::OnNumber(std::string const& text) { SendAs(*this, &LGCP::Signal::set_number, text); }
void Slot::OnModem(TERM::ModemProceeding const& v) { SendAs(*this, &LGCP::Signal::set_modemProceeding, v); }
void Slot::OnModem(TERM::ModemInformation const& v) { SendAs(*this, &LGCP::Signal::set_modemInformation, v); }
void Slot::OnDeactivated() { SendAs(*this, &LGCP::Signal::set_deactivated, LGCP::DeactivateCause::networkError); }
void Slot::OnAbort(int cause) { SendAs(*this, &LGCP::Signal::set_abort, cause); }
void Slot::OnIoctlResponse(LGCP::IoctlResponse const& r) { SendAs(*this, &LGCP::Signal::set_ioctl, r); }
bool Slot::OnRtpRadioEvent(TERM::RtpRadioRequest const& r) { return SendAs(*this, &LGCP::Signal::set_rtpExt, r); }
void Slot::OnVADEvent(LGCP::VADEvent const& e) { SendAs(*this, &LGCP::Signal::set_vad, e); }
void Slot::OnProtoLemzEvent(LEMZGW::ProtoLemzPackets const& p) { SendAs(*this, &LGCP::Signal::set_protoLemz, p); }
void Slot::OnSDEvent(LGCP::SDEvent const& e) { SendAs(*this, &LGCP::Signal::set_sd, e); }
void Slot::OnRtpEvent(LGCP::RtpEvent const& e) { SendAs(*this, &LGCP::Signal::set_rtp, e); }

void Slot::OnActivated() {
  LGCP::Signal s;
  s.set_activated();
  SendSignal(s);
}

void Slot::OnUserData(std::vector<char> const& data) {
  LGCP::Signal s;
  s.select_userData() = data;
  SendSignal(s);
}

namespace {

// Sends "receiver" or "transmitter": active with the channel, or inactive.
void SendStream(Slot& slot, LGCP::Stream& (LGCP::Signal::*select)(), bool active, int channel) {
  LGCP::Signal s;
  LGCP::Stream& stream = (s.*select)();
  if (active)
    stream.set_active(channel);
  else
    stream.set_inactive();
  slot.SendSignal(s);
}

}  // namespace

void Slot::OnChangeInputStream(bool active) {
  if (active == inputActive) return;
  if (!active) Disconnect(*this);
  inputActive = active;
  SendStream(*this, &LGCP::Signal::select_receiver, active, active ? IGetReceiveChannel() : -1);
}

void Slot::OnChangeOutputStream(bool active) {
  if (active == outputActive) return;
  if (!active && !DisconnectSinks(*this)) std::cerr << "mux: internal error: expected slots not exists." << std::endl;
  outputActive = active;
  SendStream(*this, &LGCP::Signal::select_transmitter, active, active ? IGetTransmitChannel() : -1);
}

void Slot::LoseChannel() {
  if (channelLost) return;
  std::cerr << "slot " << *this << " lost its channel " << IGetTransmitChannel() << "/" << IGetReceiveChannel()
            << std::endl;
  // As a controller's disconnect takes them down: no stream signal, the kind reports the loss
  // its own way (an error answer, "deactivated", "abort"). A destroy in progress has taken the
  // links down already.
  if (!destroying) {
    losingChannel = true;
    DisconnectSinks(*this);
    Disconnect(*this);
    losingChannel = false;
  }
  IReleaseChannel();
  // What it still holds of switch outputs it holds no longer; the others' paths stay.
  SwitchUsers::forget(this);
  channelLost = true;
}

void Slot::HandOverChannel(int channel, Fd& holder) {
  if (!holder) return;
  SwitchRoutes::release(channel, holder.release(), false);
}

bool Slot::BeforeDestroy() {
  if (!IBeforeDestroy()) return false;
  if (factory)
    factory->Remove(this);
  else
    std::cerr << "slot: internal error!!! BeforeDestroy() not connected to factory" << std::endl;
  return true;
}

void Slot::on_release() {
  if (!destroying) return;
  if (factory) factory->Remove(this);
  Slots::instance()->on_release(this);
}

void Slot::LogicalConnect(Slot& src) {
  source = &src;
  // Each sink once; kept in connection order so that take-downs run in a known order.
  if (std::find(src.sinks.begin(), src.sinks.end(), this) == src.sinks.end()) src.sinks.push_back(this);
}

void Slot::LogicalDisconnect() {
  if (!source) return;
  std::erase(source->sinks, this);
  source = nullptr;
}

void Slot::processTonecEvent(Hardware::TonecReceiver::Params const& params) {
  LGCP::TonecEvent event;
  event.set_timestamp(static_cast<int>(params.timestamp));
  LGCP::TonecCode& code = event.get_event();
  if (params.code == 17) {
    code.set_ced();
  } else if (params.code == 18) {
    code.set_cng();
  } else if (params.code <= 127) {
    code.set_dtmf(params.code);
  } else {
    const int iva = static_cast<int32_t>(params.code) >> 8;
    if (iva >= 1 && iva <= 20) {
      code.select_iva().set_code(static_cast<unsigned>(iva));
    } else if (iva == 21) {
      code.select_iva().set_ringoff();
    } else {
      std::cerr << "bad DTMF code, ignored." << std::endl;
      return;
    }
  }
  OnTonecEvent(event);
}

void Slot::processToneGenEvent() {
  LGCP::TonecEvent event;
  event.set_timestamp(0);
  event.get_event().set_dtmfDone();
  OnTonecEvent(event);
}

void Slot::processVADEvent(Hardware::DSProcVADEvent const& e) {
  LGCP::VADEvent event;
  if (e.rx >= 0) event.set_vad_rx(e.rx != 0);
  if (e.tx >= 0) event.set_vad_tx(e.tx != 0);
  if (!event.has_vad_rx() && !event.has_vad_tx()) {
    std::cerr << "bad VAD event, ignored." << std::endl;
    return;
  }
  OnVADEvent(event);
}

void Slot::processToneFltEvent(Hardware::dsproc_tone_event const* e) {
  LGCP::TonecEvent event;
  event.set_timestamp(0);
  LGCP::TonePresence& presence = event.get_event().select_tone_presence();
  presence.set_freq(static_cast<int>(static_cast<uint32_t>(e->frequency)));
  presence.set_presence(static_cast<uint32_t>(e->presence) > 0);
  OnTonecEvent(event);
}

void Slot::processFlagsEvent(Hardware::dsproc_flags_event const* e) {
  constexpr uint32_t kVadRx = 1u << 29, kVadTx = 1u << 30, kSelcal = 1u << 31;
  const uint32_t flags = e->flags, mask = e->mask;
  if (mask & (kVadRx | kVadTx)) {
    LGCP::VADEvent event;
    if (mask & kVadRx) event.set_vad_rx((flags & kVadRx) != 0);
    if (mask & kVadTx) event.set_vad_tx((flags & kVadTx) != 0);
    OnVADEvent(event);
  }
  if (mask & kSelcal) {
    LGCP::Signal s;
    s.select_selcal().set_in_progress((flags & kSelcal) != 0);
    SendSignal(s);
  }
}

void Slot::processBSSEvent(Hardware::dsproc_bss_event const* e) {
  char text[32];
  std::snprintf(text, sizeof text, "%4.6f", static_cast<double>(static_cast<float>(e->score)));
  LGCP::Signal s;
  s.select_bss().set_score(text);
  SendSignal(s);
}

void Slot::processSDEvent(Hardware::DSProcSDEvent const& e) {
  if (e.sd < 0) {
    std::cerr << "bad SD event, ignored." << std::endl;
    return;
  }
  LGCP::SDEvent event;
  event.set_sd_rx(e.sd > 0);
  OnSDEvent(event);
}

void Slot::processRtpEvent(rtp_event const& e) {
  if (e.type != board::rtp::kEventPacketLoss) return;
  LGCP::RtpEvent event;
  LGCP::RtpPDEvent& pd = event.select_pd();
  pd.set_value(static_cast<int>(static_cast<uint32_t>(e.value)));
  pd.set_timeout(static_cast<int>(static_cast<uint32_t>(e.timeout)));
  OnRtpEvent(event);
}
