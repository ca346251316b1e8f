#include "slots/HdlcSlot.h"

#include <iostream>

#include "foundation/Hex.h"
#include "foundation/Traces.h"
#include "foundation/Wrapping.h"
#include "slots/LinkMessages.h"

namespace {

// The trace stream while the channel "signalling.hdlc" is on; null otherwise.
std::ostream* trace() { return traces.signalling_hdlc() ? &std::clog : nullptr; }

}  // namespace

HdlcSlot::HdlcSlot(LGCP::HdlcParams const& params)
    : hdlc(std::make_unique<HDLC>()),
      trunkIndex(static_cast<uint32_t>(WrapSub(params.get_trunk().getValue(), 1))),
      address(static_cast<uint16_t>(params.get_address().getValue())) {
  hdlc->notify = this;
  hdlc->trunk = params.get_trunk().getValue();
  hdlc->log = params.get_log().getValue();
  if (auto* t = trace()) *t << ext::header(this) << "trunk=" << trunkIndex << ", address=" << address << std::endl;
  updateTimer.set(kUpdateMs, &HdlcSlot::OnUpdateTimer, this);
  new_batch();
}

HdlcSlot::~HdlcSlot() {
  // The channel goes first, so that nothing it reports can reach a half-destroyed slot.
  hdlc->unbind();
  hdlc.reset();
}

void HdlcSlot::PutHeader(std::ostream& os) const { os << "HdlcSlot[" << trunkIndex << "/*]" << ": "; }

void HdlcSlot::new_batch() {
  batch = &pending.select_hdlcPackages();
  batch->clear();
  batchOctets = 0;
}

// Success only when the slot holds a channel afterwards. A slot that no connection names a
// TDM channel for has none to patch its channel to: whatever peer it had is gone.
bool HdlcSlot::IActivate(TERM::TermActivateParams const&) {
  if (auto* t = trace()) *t << ext::header(this) << "IActivate" << std::endl;
  if (!still_named(nullptr, nullptr)) hdlc->params.tdm = -1;
  return iactivate();
}

// A re-activation gives up the working channel before it asks for a new one: when none
// comes, packages are refused as after a failed channel instead of waiting for nothing.
bool HdlcSlot::iactivate() {
  if (auto* t = trace()) *t << ext::header(this) << "Try to activate HDCL, params.tdm = " << hdlc->params.tdm << std::endl;
  if (!hdlc->activate()) {
    channelGone = true;
    OnDeactivated();
    return false;
  }
  channelGone = false;
  if (auto* t = trace()) *t << ext::header(this) << "HDLC activated successfully" << std::endl;
  return true;
}

bool HdlcSlot::IDeactivate() {
  OnUpdateTimer();
  return true;
}

bool HdlcSlot::bind_channel(int tdm, bool out) {
  // The channel that serves this timeslot already takes the connection's routes back (another
  // channel of the link had taken the timeslot's output, or the switch lost them): the link
  // goes on without a new channel.
  if (tdm != -1 && hdlc->serves(tdm)) return out ? hdlc->retake_output(tdm) : hdlc->retake_routes();
  hdlc->params.tdm = tdm;
  hdlc->params.mode = HDLC::mode_isdn;
  // (A peer without a channel leaves the channel inactive.)
  return tdm == -1 || iactivate();
}

bool HdlcSlot::still_named(const Slot* goingSource, const Slot* goingSink) const {
  const int tdm = hdlc->params.tdm;
  if (tdm == -1) return false;
  if (source && source != goingSource && source->IGetTransmitChannel() == tdm) return true;
  for (Slot* sink : sinks)
    if (sink != goingSink && sink->IGetReceiveChannel() == tdm) return true;
  return false;
}

bool HdlcSlot::IHwTransmitterStands(Slot& sink) { return hdlc->output_stands(sink.IGetReceiveChannel()); }

bool HdlcSlot::IHwReceiverStands(Slot& source) {
  const int tdm = source.IGetTransmitChannel();
  return tdm == -1 || hdlc->routes_stand(tdm);
}

bool HdlcSlot::IHwConnectTransmitter(Slot& sink) {
  if (auto* t = trace()) *t << ext::header(this) << "IHwConnectTransmitter" << std::endl;
  return bind_channel(sink.IGetReceiveChannel(), true);
}

bool HdlcSlot::IHwConnectReceiver(Slot& source) {
  if (auto* t = trace()) *t << ext::header(this) << "IHwConnectReceiver" << std::endl;
  return bind_channel(source.IGetTransmitChannel(), false);
}

// A connection that goes takes down its own direction; the channel stays while another
// connection names its TDM channel, so that the link hears (or feeds) what still stands.
bool HdlcSlot::IHwDisconnectTransmitter(Slot& sink) {
  if (auto* t = trace()) *t << ext::header(this) << "IHwDisconnectTransmitter" << std::endl;
  // The route to the sink is the connection's: the sink's disconnect takes it down now.
  hdlc->leave_output(sink.IGetReceiveChannel());
  Slot::IHwDisconnectTransmitter(sink);
  if (!still_named(nullptr, &sink)) hdlc->deactivate();
  return true;
}

bool HdlcSlot::IHwDisconnectReceiver(Slot& source) {
  if (auto* t = trace()) *t << ext::header(this) << "IHwDisconnectReceiver" << std::endl;
  Slot::IHwDisconnectReceiver(source);
  if (still_named(&source, nullptr))
    hdlc->leave_input();
  else
    hdlc->deactivate();
  return true;
}

bool HdlcSlot::Ioctl(LGCP::IoctlParams const& params) {
  if (!params.is_hdlcPackages()) return false;
  // Nothing would ever take them: the controller hears that they were not sent.
  if (channelGone) {
    std::cerr << ext::header(this) << "package(s) refused: channel gone" << std::endl;
    return false;
  }
  unsigned lost = 0;
  for (auto const& package : params.get_hdlcPackages()) {
    auto const& body = package.get_body();
    Packet p;
    p.reserve_head(0);
    // A body that does not fit one frame buffer cannot be sent; it is lost like a package
    // that finds the queue full rather than overrunning the buffer.
    if (body.size() > p.tailroom() - kHeader) {
      ++sendSeq;
      ++lost;
      continue;
    }
    p.put16_b(address);
    p.put8(static_cast<unsigned char>((sendSeq << 5) | receiveSeq));
    ++sendSeq;
    if (!body.empty()) std::copy(body.begin(), body.end(), reinterpret_cast<char*>(p.put(static_cast<unsigned>(body.size()))));
    if (auto* t = trace()) *t << ext::header(this) << "enqueue package: " << p.text() << std::endl;
    if (!sendQueue.put(p)) ++lost;
    // Each package goes out as soon as the channel takes it, so that only packages that find
    // the channel busy wait in the queue and only a full queue loses one.
    if (hdlc->is_ready()) on_hdlc_ready();
  }
  if (lost) {
    queueDrops += lost;
    std::cerr << ext::header(this) << lost << " package(s) lost: send queue full" << std::endl;
  }
  return lost == 0;
}

void HdlcSlot::on_hdlc_ready() {
  Packet head;
  while (sendQueue.preview(&head)) {
    if (!hdlc->hdlc_transmit(head)) return;
    sendQueue.get(nullptr);
    if (auto* t = trace()) *t << ext::header(this) << "on_hdlc_ready " << head.text() << std::endl;
  }
}

void HdlcSlot::on_hdlc_error(HDLC::Notify::Cause::Type) {
  std::clog << ext::header(this) << "on_hdlc_error" << std::endl;
  channelGone = true;
}

void HdlcSlot::on_hdlc_receive(Packet& frame) {
  if (auto* t = trace()) *t << ext::header(this) << "on_hdlc_receive " << frame.text() << std::endl;
  // Without address and sequence octet a frame says nothing; it is counted and dropped.
  if (frame.length() < kHeader) {
    ++rxShort;
    if (auto* t = trace()) *t << ext::header(this) << "short frame dropped" << std::endl;
    return;
  }
  // A frame that ends before the octet that would announce more is the last of its batch.
  bool more = frame.length() > kMoreOctet && (frame.data()[kMoreOctet] & 0x80) != 0;
  enqResponce(frame);
  if (!more) {
    flushTimer.reset();
    flushResponce();
  } else if (!flushTimer.is_set()) {
    flushTimer.set(kFlushMs, &HdlcSlot::flushResponce, this);
  }
}

void HdlcSlot::enqResponce(Packet& frame) {
  uint16_t to = frame.pull16_b();
  uint8_t seq = frame.pull8();
  if (to != address) return;
  receiveSeq = static_cast<uint8_t>(seq >> 5);
  const unsigned length = frame.length();
  if (length > kMaxBody) {
    // No signal can carry it: said and counted here rather than lost in the encoder.
    ++rxTooLong;
    std::cerr << ext::header(this) << "frame of " << length << " octets too long for a package, dropped" << std::endl;
    return;
  }
  // The batch goes first when this package would take it past what one signal carries.
  if (batch->size() >= ASN1::MaximumArraySize || batchOctets + kPackageOverhead + length > kMaxBatchOctets) sendBatch();
  LGCP::HdlcPackage package;
  auto* data = reinterpret_cast<const char*>(frame.data());
  package.get_body().assign(data, data + length);
  batch->push_back(package);
  batchOctets += kPackageOverhead + length;
}

void HdlcSlot::flushResponce() {
  if (auto* t = trace()) *t << ext::header(this) << "flushResponce: " << batch->size() << std::endl;
  sendBatch();
}

void HdlcSlot::sendBatch() {
  if (!batch->empty()) OnIoctlResponse(pending);
  new_batch();
}

void HdlcSlot::OnUpdateTimer() {
  updateTimer.set(kUpdateMs, &HdlcSlot::OnUpdateTimer, this);
  UpdateHDLC_Statistics();
}

void HdlcSlot::UpdateHDLC_Statistics() {
  LGCP::IoctlResponse r;
  HdlcLinkInfo(*hdlc, r);
  OnIoctlResponse(r);
}
