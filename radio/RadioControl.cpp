#include "radio/RadioControl.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "board/board.h"
#include "foundation/Escaped.h"
#include "foundation/Hex.h"
#include "foundation/Mux.h"

namespace RTPSignalling {

const char* GetRtpExtDevName() { return board::rtp_ext::kPath; }

RadioControl::RadioControl(int id, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init)
    : ext_attach_(attach), init_params_(init), id_(static_cast<unsigned long>(id)) {
  Init(AttachExtSession);
}

RadioControl::RadioControl(rtp_ext_init_params const& init) : init_params_(init) { Init(ExtSessionOnly); }

RadioControl::RadioControl(int id, Fd rtp, rtp_attach_session_params const& attach)
    : rtp_fd_(std::move(rtp)), rtp_attach_(attach), id_(static_cast<unsigned long>(id)) {
  Init(AttachRtpSession);
}

RadioControl::~RadioControl() {
  status_timer_.reset();
  reconcile_timer_.reset();
  watch_.Release();
  watch_.UnBind();
  if (ext_fd_) board::close(ext_fd_.release());
}

void RadioControl::Init(RadioControlType type) {
  type_ = type;
  time_stamp_ = Mux::milliseconds();
  interval_ = kDefaultInterval;
  filter_set_ = false;
  filter_ = {};
  access_ = false;
  access_source_ = {};
  notify_ = nullptr;
  timer_enabled_ = false;
  trace_ = false;
  if (type == AttachExtSession || type == ExtSessionOnly) {
    watch_.Bind<RadioControl>("RadioControl::OnRtpExtEvent", &RadioControl::OnRtpExtEvent, this);
  }
  // A failure leaves the slot working without radio signalling until the session is made.
  RtpExtStart(true);
  std::list<INet4::Addr> addresses;
  Net::ifconfig(addresses, Net::ifconfig_private);
  local_addr_ = PickLocalAddress(addresses);
}

INet4::Addr RadioControl::PickLocalAddress(const std::list<INet4::Addr>& private_addresses) {
  if (!private_addresses.empty()) return private_addresses.front();
  INet4::Addr local;
  local.Assign("127.0.0.1", nullptr);
  return local;
}

int RadioControl::OpenSession(bool attach, bool quiet) {
  // Non-blocking, so that the receive loop ends when the queue is empty instead of stalling
  // the event loop in read().
  Fd fd(board::open(GetRtpExtDevName(), O_RDWR | O_CLOEXEC | O_NONBLOCK));
  if (!fd) {
    if (!quiet) std::cerr << GetPrefix() << "create rtp_ext session fail !!!" << std::endl;
    return -1;
  }
  if (board::ioctl(fd.get(), board::rtp_ext::RTP_EXT_INIT, &init_params_) < 0) {
    if (!quiet) std::cerr << GetPrefix() << "init rtp_ext session fail !!!" << std::endl;
    board::close(fd.release());
    return -1;
  }
  if (attach && board::ioctl(fd.get(), board::rtp_ext::RTP_EXT_ATTACH, &ext_attach_) < 0) {
    if (!quiet) std::cerr << GetPrefix() << "attach rtp_ext session fail !!!" << std::endl;
    board::close(fd.release());
    return -1;
  }
  return fd.release();
}

bool RadioControl::RtpExtStart(bool reopen) {
  switch (type_) {
    case AttachRtpSession:
      want_session_ = true;
      return JoinRtpSession(false);
    case ExtSessionOnly:
      if (!reopen) return true;
      [[fallthrough]];
    case AttachExtSession:
      want_session_ = true;
      return StartSession(false);
  }
  return true;
}

bool RadioControl::JoinRtpSession(bool quiet) {
  joined_ = false;
  if (!rtp_fd_) return false;  // the slot lost its session: nothing to join through
  if (board::ioctl(rtp_fd_.get(), board::rtp_ext::RTP_ATTACH_EXT_SESSION, &rtp_attach_) < 0) {
    if (!quiet) std::cerr << GetPrefix() << "attach rtp session fail !!!" << std::endl;
    ArmReconcile();
    return false;
  }
  joined_ = true;
  return true;
}

bool RadioControl::StartSession(bool quiet) {
  const int fd = OpenSession(type_ == AttachExtSession, quiet);
  if (fd < 0) {
    ArmReconcile();
    return false;
  }
  watch_.Release();
  if (ext_fd_) board::close(ext_fd_.release());
  ext_fd_.reset(fd);
  // A new session starts without a filter: it gets the one last asked for (below), so that a
  // sender other than the holder is not taken for the holder after a restart.
  filter_ = {};
  filter_set_ = false;
  // A session whose events nobody hears is not kept: its packets would never be read.
  if (!watch_.Schedule(ext_fd_, POLLIN)) {
    if (!watch_logged_) std::cerr << GetPrefix() << "watch rtp_ext session fail !!!" << std::endl;
    watch_logged_ = true;
    board::close(ext_fd_.release());
    ArmReconcile();
    return false;
  }
  watch_logged_ = false;
  filter_logged_ = false;
  ApplyFilter();
  held_owed_ = !WriteHeldState();
  if (!Settled()) ArmReconcile();
  return true;
}

bool RadioControl::RtpExtStop() {
  if (type_ != AttachExtSession) return true;
  want_session_ = false;
  // The driver copies nothing for a detach; the block is passed all the same.
  if (ext_fd_ && board::ioctl(ext_fd_.get(), board::rtp_ext::RTP_EXT_DETACH, &ext_attach_) < 0) {
    std::cerr << GetPrefix() << "detach rtp_ext session fail !!!" << std::endl;
  }
  if (ext_fd_) board::close(ext_fd_.release());
  watch_.Release();
  // The filter went with the session.
  filter_ = {};
  filter_set_ = false;
  return true;
}

bool RadioControl::has_session() const {
  if (type_ == AttachRtpSession) return joined_;
  return static_cast<bool>(ext_fd_);
}

bool RadioControl::filter_holds() const {
  if (!ext_fd_) return true;  // a session made later gets the filter
  return access_ ? filter_set_ && filter_.src_addr == access_source_.s_addr : !filter_set_;
}

bool RadioControl::Settled() const {
  if (want_session_ && !has_session() && (type_ != AttachRtpSession || rtp_fd_)) return false;
  return filter_holds() && !(ext_fd_ && held_owed_) && gate_confirmed_;
}

void RadioControl::ArmReconcile() {
  if (!reconcile_timer_.is_set()) reconcile_timer_.set(kReopenMs, &RadioControl::Reconcile, this);
}

void RadioControl::Reconcile() {
  if (want_session_ && !has_session()) {
    if (type_ == AttachRtpSession) {
      JoinRtpSession(true);
    } else {
      StartSession(true);
    }
  }
  ApplyFilter();
  if (held_owed_ && ext_fd_) held_owed_ = !WriteHeldState();
  if (!gate_confirmed_) FollowSquelch();
  if (Settled()) {
    reconcile_timer_.reset();
  } else {
    ArmReconcile();
  }
}

void RadioControl::FollowSquelch() {
  if (!notify_) return;
  const bool confirmed = notify_->RadioControlGate(GetSQU());
  if (!confirmed && gate_confirmed_) std::cerr << GetPrefix() << "squelch gate rtp session fail !!!" << std::endl;
  gate_confirmed_ = confirmed;
  if (!confirmed) ArmReconcile();
}

void RadioControl::SetTimerEnable(bool on) {
  timer_enabled_ = on;
  if (on) {
    SetTimer(interval_);
  } else {
    status_timer_.reset();
  }
}

void RadioControl::SetTimer(unsigned long ms) {
  status_timer_.set<RadioControl>(static_cast<unsigned>(ms), &RadioControl::OnProcessStatus, this);
}

void RadioControl::OnProcessStatus(Timer*) {
  unsigned long interval = interval_;
  uint32_t now = Mux::milliseconds();
  time_stamp_ = now;
  SetTimer(ProcessRadioStatus(now, interval));
}

int RadioControl::UpdateAccess(bool access, in_addr const& source) {
  if (access != access_ || source.s_addr != access_source_.s_addr) filter_logged_ = false;
  access_ = access;
  access_source_ = source;
  if (!ApplyFilter()) ArmReconcile();
  return 0;
}

bool RadioControl::ApplyFilter() {
  if (filter_holds()) return true;
  rtp_ext_filter filter{};
  if (access_) {
    filter.src_addr = access_source_.s_addr;
    if (board::ioctl(ext_fd_.get(), board::rtp_ext::RTP_EXT_SET_FILTER, &filter) < 0) {
      // The driver keeps its old filter, and so does the state.
      if (!filter_logged_) std::cerr << GetPrefix() << "set filer rtp_ext session fail !!!" << std::endl;
      filter_logged_ = true;
      return false;
    }
    filter_ = filter;
    filter_set_ = true;
    return true;
  }
  if (board::ioctl(ext_fd_.get(), board::rtp_ext::RTP_EXT_RESET_FILTER, &filter) < 0) {
    if (!filter_logged_) std::cerr << GetPrefix() << "reset filer rtp_ext session fail !!!" << std::endl;
    filter_logged_ = true;
    return false;
  }
  filter_ = filter;
  filter_set_ = false;
  return true;
}

bool RadioControl::RefuseAddress(const std::string& text) {
  std::cerr << GetPrefix() << "command refused: holder address " << ext::quoted(ext::escaped(text))
            << " is not an IPv4 address" << std::endl;
  return false;
}

std::string& RadioControl::GetPrefix() {
  Mux::timeval now;
  Mux::gettimeval(now);
  std::string time = Mux::timevaltostring(now);
  char text[255] = {};
  if (type_ == ExtSessionOnly) {
    std::snprintf(text, sizeof text, "rtp_ext %s:", time.c_str());
  } else {
    std::snprintf(text, sizeof text, "rtp_ext[%lu] %s:", id_, time.c_str());
  }
  prefix_ = text;
  return prefix_;
}

void RadioControl::OnRtpExtEvent(int, short revents) {
  if ((revents & POLLIN) && trace_) std::clog << GetPrefix() << "receive extension packet(s)!" << std::endl;
}

void RadioControl::DropHungUpSession(short revents) {
  if (!(revents & (POLLHUP | POLLERR))) return;
  std::cerr << GetPrefix() << "rtp_ext session hung up" << std::endl;
  watch_.Release();
  if (ext_fd_) board::close(ext_fd_.release());
  // The filter went with the session; the new one gets the one last asked for.
  filter_ = {};
  filter_set_ = false;
  // Without a session the radio's PTT and squelch would never reach the controller again. The
  // line above stands for the whole loss: the tries while the device stays away are quiet.
  StartSession(true);
}

ssize_t RadioControl::ReadExtPacket(uint8_t* buf, size_t size) {
  int fd = ext_fd_.get();
  int r = board::ioctl(fd, board::rtp_ext::RTP_EXT_RX_INFO, &rx_info_);
  if (r > 0) {
    ++stats_.rx_info_calls;
  } else if (r < 0) {
    stats_.rx_info_errno = static_cast<uint32_t>(errno);
  }
  ssize_t n = ::read(fd, buf, size);
  if (n > 0) {
    stats_.bytes_read += static_cast<uint32_t>(n);
    return n;
  }
  // An empty queue is the normal end of a run, not a failure worth keeping.
  if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) stats_.read_errno = static_cast<uint32_t>(errno);
  return 0;
}

ssize_t RadioControl::WriteExtPacket(const uint8_t* buf, size_t size) {
  ssize_t n = ::write(ext_fd_.get(), buf, size);
  if (n < 0) {
    stats_.write_errno = static_cast<uint32_t>(errno);
    return -1;
  }
  stats_.bytes_written += static_cast<uint32_t>(n);
  ++stats_.packets_written;
  return n;
}

}  // namespace RTPSignalling
