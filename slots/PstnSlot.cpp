#include "slots/PstnSlot.h"

#include <iostream>

#include "foundation/Wrapping.h"
#include "links/LAPD_NT.h"
#include "links/SS7SLC.h"
#include "slots/Connection.h"
#include "slots/LinkMessages.h"

PstnSlot::PstnSlot(LGCP::PstnParams const& params) : hdlc(std::make_unique<HDLC>()) {
  hdlc->notify = this;
  if (params.is_ss7()) {
    auto const& p = params.get_ss7();
    slc = new SS7::SLC;
    slc->trunk = static_cast<uint32_t>(p.get_trunk().getValue());
    slc->slc = static_cast<uint32_t>(p.get_slc().getValue());
    slc->dpc = static_cast<uint32_t>(p.get_dpc().getValue());
    slc->opc = static_cast<uint32_t>(p.get_opc().getValue());
    slc->emergency = p.get_emergency().getValue();
    slc->hdlc = hdlc.get();
    link = slc;
    add_protocol_tail(slc);
    hdlc->trunk = p.get_trunk().getValue();
    trunk = WrapSub(p.get_trunk().getValue(), 1);
    kind = ss7;
  } else if (params.is_isdn()) {
    auto const& p = params.get_isdn();
    bool bri = p.get_type().asNamedNumber() == LGCP::IsdnType::bri;
    hdlc->log = p.get_log().getValue();
    hdlc->trunk = p.get_trunk().getValue();
    trunk = WrapSub(p.get_trunk().getValue(), 1);
    if (bri && p.get_side().is_network()) {
      // The network side keeps one link per terminal and sends through the stack's owner;
      // the channel's frames reach it through its own receiver.
      lapdNt = new ISDN::LAPD_NT;
      lapdNt->set_log(static_cast<unsigned>(p.get_log().getValue()));
      ntReceiver.nt = lapdNt;
      link = &ntReceiver;
      add_protocol_tail(lapdNt);
      kind = bri_network;
    } else {
      auto side = p.get_side().is_network() ? ISDN::Side::network : ISDN::Side::user;
      lapd = new ISDN::LAPD(side, static_cast<unsigned>(p.get_log().getValue()));
      lapd->id = static_cast<uint32_t>(p.get_trunk().getValue());
      lapd->notify = this;
      lapd->device = hdlc.get();
      link = lapd;
      if (bri) lapd->change_to_bri();
      kind = bri ? bri_user : isdn_pri;
      add_protocol_tail(lapd);
    }
  }
  updateTimer.set(kUpdateMs, &PstnSlot::OnUpdateTimer, this);
}

// The link layer goes before the channel that it sends through, and the channel stops
// reporting to this slot before either goes.
PstnSlot::~PstnSlot() {
  hdlc->unbind();
  link = nullptr;
  delete slc;
  delete lapd;
  delete lapdNt;
  hdlc.reset();
  updateTimer.reset();
}

void PstnSlot::NtReceiver::on_hdlc_receive(Packet& frame) { nt->receive(frame); }

void PstnSlot::on_hdlc_receive(Packet& frame) {
  if (link) link->on_hdlc_receive(frame);
}
void PstnSlot::on_hdlc_error(HDLC::Notify::Cause::Type cause) { out_of_service(cause); }

// The link layer stops at once, as the far end finds it stopping, instead of learning from its
// own timers many seconds later while it takes messages that go nowhere. The controller hears
// "deactivated" once: from the link layer when it was up or coming up, else from here when
// an activation found no channel.
void PstnSlot::out_of_service(HDLC::Notify::Cause::Type cause) {
  const unsigned reported = deactivations;
  if (kind == bri_network) {
    // The network side reports no status of its own, and its terminals' links would go on
    // taking messages that the closed channel drops: they are let go, and the controller hears
    // the link go down as from any other link layer.
    deactivate();
    on_deactivated(lapdNt, Protocol_status(new Protocol_status_error(lapdNt, "channel failed")));
    return;
  }
  if (link) link->on_hdlc_error(cause);
  if (deactivations == reported && cause == HDLC::Notify::Cause::no_channel) OnDeactivated();
}
void PstnSlot::on_hdlc_ready() {
  if (link) link->on_hdlc_ready();
}

void PstnSlot::transmit(Packet& p) {
  if (kind == bri_network) hdlc->hdlc_transmit(p);
}

// A re-activation gives up the working channel before it asks for a new one, as a first one
// is asked for; when none comes, the link has no channel and goes out of service.
bool PstnSlot::iactivate() {
  if (!hdlc->activate()) {
    out_of_service(HDLC::Notify::Cause::no_channel);
    return false;
  }
  activate();
  return true;
}

// Success only when the link has a channel to run on. A TDM channel that no connection names
// any more is not the link's: a slot without connections activates as a fresh one.
bool PstnSlot::IActivate(TERM::TermActivateParams const&) {
  if (!source) hdlc->params.tdm = -1;
  if (sinks.empty()) hdlc->params.tdm_tx = -1;
  return iactivate();
}

bool PstnSlot::IDeactivate() {
  deactivate();
  return true;
}

bool PstnSlot::IUserData(std::vector<char> const& data) { return SendDown(*this, data); }

bool PstnSlot::IHwConnectTransmitter(Slot& sink) {
  const int tdm = sink.IGetReceiveChannel();
  if (kind == bri_user || kind == bri_network) {
    // The same sink again: its route is made again on the channel that runs the link.
    if (tdm != -1 && tdm == hdlc->params.tdm_tx && hdlc->is_open() && hdlc->output() == tdm)
      return hdlc->retake_output(tdm);
    hdlc->params.tdm_tx = tdm;
    if (hdlc->params.tdm != -1) return iactivate();
    return true;
  }
  // A primary-rate or SS7 channel feeds the timeslot it hears: connected to that trunk slot
  // (again, after a disconnect or another slot took its output), the link's path out is made
  // there again. To any other sink there is nothing to make.
  return !hdlc->serves(tdm) || hdlc->retake_output(tdm);
}

bool PstnSlot::IHwAcceptsSource(Slot& source) {
  if (!e1()) return true;
  // A source with no trunk (-1) is as invalid as one above the last.
  const int t = source.GetTrunk();
  if (static_cast<unsigned>(t) > 3) {
    std::cerr << "pstn-slot: invalid trunk number: " << t << std::endl;
    return false;
  }
  const int ts = source.GetTrunkTimeSlot();
  if (ts > 31) {
    std::cerr << "pstn-slot: invalid timeslot: " << ts << std::endl;
    return false;
  }
  return true;
}

bool PstnSlot::IHwConnectReceiver(Slot& source) {
  if (!IHwAcceptsSource(source)) return false;
  const int tdm = source.IGetTransmitChannel();
  // The same source again on a running link: its routes are made again, the link goes on.
  if (tdm != -1 && hdlc->serves(tdm)) return hdlc->retake_routes();
  if (e1()) {
    hdlc->params.line = source.GetTrunk();
    hdlc->params.timeslot = source.GetTrunkTimeSlot();
  }
  hdlc->params.tdm = tdm;
  hdlc->params.mode = kind == ss7 ? HDLC::mode_ss7 : kind == isdn_pri ? HDLC::mode_isdn : HDLC::mode_bri;
  if ((kind == bri_user || kind == bri_network) && hdlc->params.tdm_tx == -1) return true;
  return iactivate();
}

bool PstnSlot::IHwTransmitterStands(Slot& sink) {
  const int tdm = sink.IGetReceiveChannel();
  if (!e1()) return hdlc->params.tdm == -1 || hdlc->output_stands(tdm);
  return !hdlc->serves(tdm) || hdlc->output_stands(tdm);
}

bool PstnSlot::IHwReceiverStands(Slot& source) {
  const int tdm = source.IGetTransmitChannel();
  if (!e1() && hdlc->params.tdm_tx == -1) return true;  // waits for the other direction
  return hdlc->routes_stand(tdm);
}

bool PstnSlot::IHwDisconnectTransmitter(Slot& sink) {
  if (kind == bri_user || kind == bri_network) {
    deactivate();
    // The channel is released before its sink is disconnected, so that the sink keeps the
    // link's last frames (its DISC) for the switch's grace period.
    hdlc->release_switch();
  }
  // Only the path out of the link to this sink goes: the channel's input belongs to the
  // connection that feeds the link, which stands, and the link goes on hearing it.
  hdlc->leave_output(sink.IGetReceiveChannel());
  MuxDisconnect(sink);
  return true;
}

bool PstnSlot::IHwDisconnectReceiver(Slot&) {
  deactivate();
  MuxDisconnect(*this);
  hdlc->release_switch();
  return true;
}

bool PstnSlot::Ioctl(LGCP::IoctlParams const& params) {
  if (params.is_ss7RqBSN()) {
    if (!slc) return false;
    LGCP::IoctlResponse r;
    r.set_ss7BSN(static_cast<int>(unsigned(slc->BSNT)));
    OnIoctlResponse(r);
    return true;
  }
  if (params.is_ss7Log()) {
    if (!slc) return false;
    slc->set_log(params.get_ss7Log());
    return true;
  }
  return false;
}

void PstnSlot::OnTrunkStatus(unsigned t, ACP::TrunkState::NamedNumber const& state) {
  if (!slc || static_cast<int>(t) != trunk || state == trunkState) return;
  slc->OnTrunkHardStatus(state == ACP::TrunkState::normal);
  trunkState = state;
}

void PstnSlot::on_activated(Protocol*) {
  SendIsdnStatistics();
  SendSS7Statistics();
  OnActivated();
}

void PstnSlot::on_deactivated(Protocol*, Protocol_status) {
  ++deactivations;
  SendIsdnStatistics();
  SendSS7Statistics();
  OnUpdateTimer();
  OnDeactivated();
}

void PstnSlot::on_message(Packet& p) { OnUserData(BytesOf(p)); }

void PstnSlot::OnLAPD_FlowStatusChange(ISDN::LAPD* l) {
  LGCP::IoctlResponse r;
  r.set_isdnLinkStatus(l->flowStatus == ISDN::LAPD::FlowStatus::stopped ? LGCP::IsdnLinkStatus::congested
                                                                        : LGCP::IsdnLinkStatus::normal);
  OnIoctlResponse(r);
}

void PstnSlot::SendIsdnStatistics() {
  if (!lapd || kind == bri_network) return;
  LGCP::IoctlResponse r;
  if (IsdnLinkInfo(*lapd, r)) OnIoctlResponse(r);
}

void PstnSlot::SendSS7Statistics() {
  if (!slc) return;
  auto const* s = slc->statistics();
  LGCP::IoctlResponse r;
  auto& info = r.select_ss7LinkInfo();
  info.get_msuTxCount().setUnsigned(s->su_sent);
  info.get_msuRxCount().setUnsigned(s->su_received);
  info.get_octetsTx().setUnsigned(s->octets_sent);
  info.get_octetsRx().setUnsigned(s->octets_received);
  info.set_speedRx(0);
  info.set_speedTx(0);
  info.get_overflowCntr().setUnsigned(s->tb_overflow);
  info.get_rtbSize().setUnsigned(s->rtb_fill);
  info.get_repeatCntr().setUnsigned(s->retransmissions);
  info.get_badSeqCntr().setUnsigned(s->nacks_sent);
  info.set_ss7state(static_cast<ACP::SS7State::NamedNumber>(slc->state()));
  OnIoctlResponse(r);
}

void PstnSlot::OnUpdateTimer() {
  updateTimer.set(kUpdateMs, &PstnSlot::OnUpdateTimer, this);
  LGCP::IoctlResponse r;
  HdlcLinkInfo(*hdlc, r);
  OnIoctlResponse(r);
  SendIsdnStatistics();
  SendSS7Statistics();
}
