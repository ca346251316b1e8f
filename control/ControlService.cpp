#include "control/ControlService.h"

#include <cstring>
#include <iostream>
#include <new>

#include "foundation/Profile.h"
#include "control/StrmProtocol.h"
#include "control/Tpkt_protocol.h"
#include "foundation/Mux.h"
#include "foundation/Packet.h"

namespace Control {

const char* GetTextNotation(State::Type s) {
  switch (s) {
    case State::Idle: return "Idle";
    case State::Connecting: return "Connecting";
    case State::Deactivating: return "Deactivating";
    case State::Connected: return "Connected";
  }
  return "Unknown";
}

Service::Service() : stream_(new StrmProtocol) {
  add_protocol_tail(stream_);
  add_protocol_tail(new Tpkt_protocol);
  end_dpc_.Bind(this, &Service::OnDeactivateDPC);
}

Service::~Service() { end_dpc_.Deactivate(); }

void Service::service_name(const std::string& name) { stream_->set_connection_name(name); }

const std::string& Service::service_name() const { return stream_->connection_name(); }

uint32_t Service::GetOverflowCounter() const { return stream_->overflow_counter(); }
const Measure& Service::get_read_measure() const { return stream_->read_measure(); }
const Measure& Service::get_write_measure() const { return stream_->write_measure(); }

bool Service::Activate() {
  Deactivate();
  state_ = State::Connecting;
  const bool ok = ImplActivate();
  if (!ok) state_ = State::Idle;
  return ok;
}

void Service::Deactivate() {
  ImplDeactivate();
  state_ = State::Idle;
}

void Service::Release() { stream_->release(); }

bool Service::SetupConnection(const Fd& socket, const std::string& peer_name) {
  name_ = peer_name;
  announced_ = false;
  stream_->attach(socket);
  if (!stream_->attached()) {
    if (verbose_)
      std::cerr << "refuse connection from " << name_ << ": can't copy socket: " << std::strerror(errno) << std::endl;
    return false;
  }
  state_ = State::Connected;
  setting_up_ = true;
  activate();
  setting_up_ = false;
  if (state_ != State::Connected) return false;
  announced_ = true;
  if (notify_) notify_->OnConnect();
  return true;
}

void Service::Send(char const* data, int length) {
  if (state_ != State::Connected) {
    if (state_ != State::Deactivating && verbose_)
      std::cerr << "Control::Service::Send() ignore Send request in " << GetTextNotation(state_)
                << " state." << std::endl;
    return;
  }
  if (length < 0 || length > max_block) {
    // A longer block would wrap the frame's 16-bit length; the connection stays up.
    std::cerr << "Control::Service::Send() block of " << length << " bytes refused, max "
              << max_block << "." << std::endl;
    return;
  }
  static Profile::Point point1("Control::Service::Send [1]");
  static Profile::Point point2("Control::Service::Send [2]");
  point1.begin();
  Packet p;
  try {
    prepare_head(p);
    if (length) std::memcpy(p.put(static_cast<unsigned>(length)), data, length);
  } catch (const std::bad_alloc&) {
    point1.end();
    std::cerr << "Control::Service::Send() no packet buffer, block of " << length
              << " bytes dropped." << std::endl;
    return;
  }
  const uint32_t built = Mux::microseconds();  // ends the first measure, begins the second
  point1.end_at(built);
  point2.begin_at(built);
  message(p);
  point2.end();
}

void Service::on_message(Packet& p) {
  if (state_ == State::Deactivating || !notify_) return;
  const unsigned len = p.length();
  notify_->OnMessage(len ? reinterpret_cast<const char*>(p.data()) : "", static_cast<int>(len));
}

void Service::on_deactivated(Protocol*, Protocol_status status) {
  if (verbose_) {
    if (setting_up_)
      std::cerr << "refuse connection from " << name_ << ": " << (status ? status->message() : "no stream") << std::endl;
    else
      std::cerr << "control connection " << name_ << " closed." << std::endl;
  }
  state_ = State::Deactivating;
  end_dpc_.Activate();
}

void Service::Disconnect() {
  if (state_ == State::Deactivating) return;
  deactivate();
}

void Service::OnDeactivateDPC() {
  end_dpc_.Deactivate();
  // A Deactivate() or Activate() since the end has already set the state; the connection's
  // end must not start listening or reconnecting behind it.
  if (state_ == State::Deactivating) {
    state_ = State::Connecting;
    ImplOnDisconnect();
  }
  if (!announced_) return;
  announced_ = false;
  if (notify_) notify_->OnDisconnect();
}

}  // namespace Control
