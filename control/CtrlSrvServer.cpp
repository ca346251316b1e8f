#include "control/CtrlSrvServer.h"

#include <iostream>
#include <iterator>

#include "asn1/CoderEnv.h"
#include "control/ControlService.h"
#include "control/CtrlSrvService.h"
#include "foundation/Hex.h"

CtrlSrv::Server ctrlServer;

namespace CtrlSrv {

namespace {

const ASN1::CoderEnv& perEnv() {
  static const ASN1::CoderEnv env(ASN1::CoderEnv::per);
  return env;
}

// The message in value notation for error lines; empty when the text coder cannot write it.
std::string notation(const LGCP::Message& m) {
  static const ASN1::CoderEnv env(ASN1::CoderEnv::avn);
  std::string text;
  ASN1::encode(m, &env, std::back_inserter(text));
  return text;
}

}  // namespace

Server::~Server() { Deactivate(); }

void Server::Bind(Service* service) {
  services_.push_back(service);
  service->server = this;
}

void Server::Activate(Control::Service* connection) {
  Deactivate();
  connection_ = connection;
  if (!connection_) return;
  connection_->service_name("server");
  connection_->Bind(this);
  connection_->Activate();
  if (held_) connection_->HoldPeers(true);
}

void Server::HoldController(bool hold) {
  held_ = hold;
  if (connection_) connection_->HoldPeers(hold);
}

void Server::Deactivate() {
  if (!connection_) return;
  connection_->Deactivate();
  OnDisconnect();
  connection_->UnBind();
  delete connection_;
  connection_ = nullptr;
}

void Server::OnConnect() {
  std::clog << ext::header(this) << "controller connect." << std::endl;
  const std::vector<Service*> services = services_;
  for (Service* s : services) s->OnConnect();
  statTimer_.set(5000, &Server::OnUpdateAvgStat, this);
}

void Server::OnDisconnect() {
  const std::vector<Service*> services = services_;
  for (Service* s : services) s->OnDisconnect();
  statTimer_.reset();
}

void Server::OnHeartbeatTimeout() {
  if (connection_) connection_->Disconnect();
}

bool Server::CheckServerConnection(bool& connected) const {
  if (!connection_) return false;
  connected = connection_->state() == Control::State::Connected;
  return true;
}

void Server::OnMessage(char const* data, int length) {
  LGCP::Message message;
  if (length < 0 || !ASN1::decode(data, data + length, &perEnv(), message, true)) {
    std::cerr << ext::header(this) << "receive fail: decode error!" << std::endl
              << " msg: " << ext::OutBufInHex(data, length < 0 ? 0 : length) << std::endl;
  } else {
    Handle(message);
  }
  slot_ = no_slot;
}

void Server::Handle(LGCP::Message const& message) {
  answer_ = NotAnswered;
  seqPresent_ = message.has_seq();
  if (seqPresent_) seq_ = message.get_seq().getValue();

  const LGCP::PDU& pdu = message.get_pdu();
  if (!pdu.is_command()) {
    slot_ = no_slot;
    Error(LGCP::ErrorCause::unexpectedMsgType);
    return;
  }
  slot_ = no_slot;
  if (message.has_slot()) {
    const uint32_t slot = message.get_slot().getValue();
    if (slot > 1023) {
      Error(LGCP::ErrorCause::invalidSlot);
      return;
    }
    slot_ = slot;
  }

  const LGCP::Command& command = pdu.get_command();
  bool taken = false;
  // Indexing, not iterators: a service may bind another while handling the command.
  for (std::size_t i = 0; i < services_.size() && !taken; ++i)
    taken = services_[i]->OnCommand(command);

  if (!taken) {
    Error(LGCP::ErrorCause::unexpectedMsgType);
  } else if (answer_ == NotAnswered) {
    std::cerr << ext::header(this) << "software error: server do NOT send ack!!!" << std::endl
              << ext::header(this) << "please report this line with the daemon's log to technical support."
              << std::endl;
    Error(LGCP::ErrorCause::internal);
  }
}

void Server::Success() {
  if (answer_ != NotAnswered) return;
  LGCP::Message m;
  if (seqPresent_) m.set_seq(seq_);
  if (slot_ != no_slot) m.set_slot(slot_);
  m.get_pdu().select_response().set_success();
  answer_ = Answered;
  SendMsg(m);
}

void Server::Error(LGCP::ErrorCause::NamedNumber cause) {
  // An error after a success or a delayed answer is still sent; only a second error is not.
  if (answer_ == AnsweredError) return;
  LGCP::Message m;
  if (seqPresent_) m.set_seq(seq_);
  if (slot_ != no_slot) m.set_slot(slot_);
  m.get_pdu().select_response().set_error(cause);
  answer_ = AnsweredError;
  SendMsg(m);
}

Seq Server::delayResponse() {
  answer_ = Answered;
  // A command without a sequence number gets a delayed answer without one.
  return seqPresent_ ? Seq(seq_) : std::nullopt;
}

void Server::delayedSuccess(unsigned int slot, Seq seq) {
  LGCP::Message m;
  if (seq) m.set_seq(*seq);
  if (slot != no_slot) m.set_slot(slot);
  m.get_pdu().select_response().set_success();
  SendMsg(m);
}

void Server::SendSignal(LGCP::Signal const& signal) {
  LGCP::Message m;
  if (slot_ != no_slot) m.set_slot(slot_);
  m.get_pdu().set_signal(signal);
  SendMsg(m);
}

bool Server::SendSignal(unsigned int slot, LGCP::Signal const& signal) {
  LGCP::Message m;
  m.set_slot(slot);
  m.get_pdu().set_signal(signal);
  return SendMsg(m);
}

bool Server::SendMsg(LGCP::Message& message) {
  out_.clear();
  if (out_.capacity() < 200) out_.reserve(200);
  if (!ASN1::encode(message, &perEnv(), std::back_inserter(out_))) {
    std::cerr << ext::header(this) << "send fail: encode error!" << notation(message) << std::endl;
    return false;
  }
  if (!connection_) {
    std::cerr << ext::header(this) << "send fail: Service not attached!" << std::endl;
    return false;
  }
  connection_->Send(out_.data(), static_cast<int>(out_.size()));
  return true;
}

void Server::PutHeader(std::ostream& os) const {
  if (!connection_)
    os << "ctrl [null]: ";
  else if (connection_->state() == Control::State::Connected)
    os << "ctrl [" << connection_->connection_name() << "]: ";
  else
    os << "ctrl [not connected]: ";
}

}  // namespace CtrlSrv
