#include "hardware/HDLC.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <new>

#include "board/board.h"
#include "board/mcc.h"
#include "foundation/Hex.h"
#include "foundation/Packet.h"
#include "foundation/Traces.h"
#include "hardware/SwitchRoutes.h"
#include "hardware/SwitchUsers.h"

namespace {

// The receiver of an unbound channel: drops everything.
class StubNotify : public HDLC::Notify {
 public:
  void on_hdlc_receive(Packet&) override {}
  void on_hdlc_error(Cause::Type) override {}
  void on_hdlc_ready() override {}
};

HDLC::Notify* stub_notify() {
  static StubNotify* stub = new StubNotify;  // never destroyed: channels may outlive statics
  return stub;
}

// MCC_ALLOCATE channel type of a controller mode; -1 for a mode without one.
int allocate_type(int mode) {
  switch (mode) {
    case HDLC::mode_isdn: return static_cast<int>(board::mcc::kTypeData);
    case HDLC::mode_bri: return static_cast<int>(board::mcc::kTypeBri);
    case HDLC::mode_ss7: return static_cast<int>(board::mcc::kTypeSs7);
  }
  return -1;
}

constexpr short kRead = POLLIN;
constexpr short kReadWrite = POLLIN | POLLOUT;

}  // namespace

HDLC::HDLC() : notify(stub_notify()) {}

HDLC::~HDLC() {
  release_switch();
  // (A later channel object at the same address must not inherit a wish of this one.)
  SwitchUsers::forget(this);
  m_event.Release();
}

void HDLC::unbind() { notify = stub_notify(); }

void HDLC::PutHeader(std::ostream& os) const {
  os << "hdlc" << " [" << trunk << "/" << params.timeslot << "]: ";
}

bool HDLC::activate() {
  deactivate();
  txSU = txDiscard = txError = txOverflow = rxSU = 0;

  bool refused = false;
  int controller = -1;
  Fd held = SwitchRoutes::for_new_owner(
      [&](int& number) {
        Fd opened(board::open(kPath, O_RDWR | O_NONBLOCK | O_CLOEXEC));
        if (!opened) {
          int error = errno;
          std::cerr << ext::header(this) << "fail to open MCC device: " << std::strerror(error) << std::endl;
        } else if ((number = allocate(opened.get())) >= 0) {
          return opened;
        }
        refused = true;
        return Fd();
      },
      controller);
  if (!held && !refused) std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << std::strerror(errno) << std::endl;
  if (!held || !connect_switch(controller)) {
    release_routes(false);  // nothing was sent on it
    return false;
  }
  const int fd = held.release();

  m_event.Bind("HDLC::OnEvent", &HDLC::on_event, this);
  Fd opened(fd);
  m_event.Schedule(opened, kReadWrite);  // watches its own duplicate
  opened.release();
  board::close(fd);
  if (!is_open()) {
    int error = errno;
    std::cerr << ext::header(this) << "fail to watch MCC device: " << std::strerror(error) << std::endl;
    return false;
  }
  ++m_generation;
  m_ready = false;
  if (traces.signalling_hdlc()) std::clog << ext::header(this) << "activated" << std::endl;
  return true;
}

int HDLC::allocate(int fd) {
  int type = allocate_type(params.mode);
  if (type < 0) {
    std::cerr << ext::header(this) << "MCC_ALLOCATE fail: unknown mode " << params.mode << std::endl;
    return -1;
  }
  board::mcc::Allocate a;
  a.type = static_cast<uint32_t>(type);
  a.rx_packet_size = 512;
  a.reserved = 0;
  a.rx_threshold = 1;
  a.tx_threshold = 4;
  if (SwitchRoutes::allocate(fd, a) < 0) {
    int error = errno;
    std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << std::strerror(error) << std::endl;
    return -1;
  }
  int controller = board::ioctl(fd, board::mcc::MCC_TIMESLOT, nullptr);
  if (controller < 0) {
    int error = errno;
    std::cerr << ext::header(this) << "MCC_TIMESLOT fail: " << std::strerror(error) << std::endl;
    return -1;
  }
  return controller;
}

// A channel whose patch failed would sit deaf or mute on the bus while its owner believes it
// up, so a refused connection fails the activation.
bool HDLC::connect_switch(int controller) {
  const int output = params.mode == mode_bri ? params.tdm_tx : params.tdm;
  m_controller = controller;
  // Each route is this channel's wish: the output is given back to another channel that
  // wants it (a link with several addresses) once this one is released.
  const bool fed = SwitchUsers::route(output, this, controller);
  if (fed) m_output = output;
  if (fed && SwitchUsers::route(controller, this, params.tdm)) {
    m_input = params.tdm;
    return true;
  }
  std::cerr << ext::header(this) << "fail to connect controller channel " << controller << " through the switch"
            << std::endl;
  return false;
}

void HDLC::deactivate() { close_channel(true); }

void HDLC::close_channel(bool held) {
  release_routes(held);
  m_event.Release();
  ++m_generation;
  m_ready = false;
  if (traces.signalling_hdlc()) std::clog << ext::header(this) << "deactivated" << std::endl;
}

void HDLC::release_switch() { release_routes(true); }

void HDLC::leave_output(int output) {
  if (output < 0 || output != m_output) return;
  SwitchUsers::forget(output, this);
  m_output = -1;
}

// Asked of what the switch confirmed, not of what the daemon wants: a route still owed to a
// switch that refused it is no path.
bool HDLC::input_stands() const {
  return is_open() && m_controller >= 0 && m_input >= 0 && SwitchUsers::carries(m_controller, this, m_input);
}

bool HDLC::output_stands(int output) const {
  return is_open() && m_controller >= 0 && output >= 0 && output == m_output &&
         SwitchUsers::carries(output, this, m_controller);
}

// A route the switch carries as its output's newest wish already costs no request.
bool HDLC::retake_routes() {
  if (!is_open() || m_controller < 0) return false;
  if (m_output >= 0 && !retake_output(m_output)) return false;
  if (!input_stands() && !SwitchUsers::route(m_controller, this, params.tdm)) return false;
  m_input = params.tdm;
  return true;
}

bool HDLC::retake_output(int output) {
  if (!is_open() || m_controller < 0 || output < 0) return false;
  if (!SwitchUsers::carries(output, this, m_controller) && !SwitchUsers::route(output, this, m_controller))
    return false;
  m_output = output;
  return true;
}

void HDLC::leave_input() {
  if (m_controller < 0 || m_input < 0) return;
  SwitchUsers::leave(m_controller, this);
  m_input = -1;
}

// The routes keep a duplicate of the descriptor, and with it the channel, for as long as an
// output may still carry what this channel sent: a later owner of the number must never be
// heard there.
void HDLC::release_routes(bool held) {
  if (m_controller < 0) return;
  SwitchRoutes::release(m_controller, held && is_open() ? ::fcntl(m_event.fd(), F_DUPFD_CLOEXEC, 0) : -1);
  m_controller = -1;
  m_output = -1;
  m_input = -1;
}

void HDLC::set_write_interest(bool on) {
  if (is_open()) m_event.set_events(on ? kReadWrite : kRead);
}

void HDLC::on_event(int, short revents) {
  unsigned generation = m_generation;
  unsigned refused = m_refused;
  // An error or hang-up without data still goes through the read, which reports it; otherwise
  // the loop would be woken for it on every pass.
  if (revents & (POLLIN | POLLERR | POLLHUP)) do_read();
  // The receiver may have deactivated or re-activated the channel, or had a frame refused
  // since the poll: the writability seen then no longer says anything.
  if (generation != m_generation || refused != m_refused) return;
  if ((revents & POLLOUT) && !m_ready) {
    m_ready = true;
    set_write_interest(false);
    notify->on_hdlc_ready();
  }
}

bool HDLC::hdlc_transmit(Packet& frame) {
  if (frame.length() == 0) return true;
  if (!is_open()) {
    ++txDiscard;
    return false;
  }
  if (traces.signalling_hdlc()) std::clog << "HDLC[" << trunk << "]: tx " << frame.text() << std::endl;
  for (;;) {
    ssize_t n = ::write(m_event.fd(), frame.data(), frame.length());
    if (n >= 0) {
      ++txSU;
      return true;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      m_ready = false;
      ++m_refused;
      set_write_interest(true);
      return false;
    }
    ++txError;
    return false;
  }
}

void HDLC::do_read() {
  if (traces.signalling_hdlc()) std::clog << ext::header(this) << "do_read" << std::endl;
  if (!is_open()) {
    std::clog << ext::header(this) << "do_read: !m_event.IsActive()" << std::endl;
    return;
  }
  Packet frame;
  try {
    frame.reserve_head(0);  // the whole buffer as tail room
  } catch (const std::bad_alloc&) {
    // Without a buffer the frame cannot be kept; taking it off the channel keeps the loop
    // from being woken for it again and again.
    static unsigned char discard[packet_max_size];
    ssize_t n = ::read(m_event.fd(), discard, sizeof discard);
    if (n > 0) std::cerr << ext::header(this) << "frame dropped: no packet buffer" << std::endl;
    return;
  }
  ssize_t n;
  do {
    n = ::read(m_event.fd(), frame.tail(), frame.tailroom());
  } while (n < 0 && errno == EINTR);
  if (n > 0) {
    frame.put(static_cast<unsigned>(n));
    if (traces.signalling_hdlc()) std::clog << "HDLC[" << trunk << "]: rx " << frame.text() << std::endl;
    ++rxSU;
    notify->on_hdlc_receive(frame);
    return;
  }
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
  int error = n < 0 ? errno : 0;
  std::cerr << ext::header(this) << "read error: " << (n < 0 ? std::strerror(error) : "end of file") << std::endl;
  close_channel(false);
  notify->on_hdlc_error(Notify::Cause::read_error);
}
