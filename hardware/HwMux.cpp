#include "hardware/HwMux.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "board/board.h"
#include "board/hal.h"
#include "foundation/Mux.h"
#include "hardware/SwitchRoutes.h"

using State = SwitchModel::State;

namespace {
bool due(const SwitchModel::Output& o, uint32_t now) {
  return o.retryMs == 0 || static_cast<int32_t>(o.retryAt - now) <= 0;
}

// A request for an output the switch refused before may meet the same refusal whatever the
// switch does with the others.
bool first_try(const SwitchModel::Output& o) { return o.retryMs == 0 && !o.refused; }
}  // namespace

HwMux* HwMux::instance() {
  static HwMux mux;
  return &mux;
}

HwMux::HwMux() {
  std::clog << "hwMux: init" << std::endl;
  IsOpened();
  refresh_.set(kRefreshPeriodMs, &HwMux::OnRefreshTimer, this);
}

HwMux::~HwMux() {
  refresh_.reset();
  retry_.reset();
  if (fd_ >= 0) board::close(fd_);
  fd_ = -1;
}

bool HwMux::IsOpened() { return fd_ >= 0 || open_device(); }

bool HwMux::open_device() {
  int fd = board::open(board::hal::kPath, O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    int error = errno;
    last_open_ms_ = Mux::milliseconds();
    if (!away_logged_) std::clog << "hwMux: can't open device: " << std::strerror(error) << std::endl;
    away_logged_ = true;
    errno = error;
    return false;
  }
  fd_ = fd;
  away_logged_ = false;
  std::clog << "hwMux: device opened" << std::endl;
  // Nothing the switch carries is known now: everything wanted goes again.
  model_.forget_confirmed();
  refusing_ = false;
  taking_ = true;
  retry_ms_ = kRetryMs;
  SendOwed();
  cursor_ = 0;
  // Gives the switch time to settle before the first connection.
  ::usleep(500);
  return fd_ >= 0;
}

void HwMux::drop(int error) {
  std::clog << "hwMux: device gone: " << std::strerror(error) << std::endl;
  board::close(fd_);
  fd_ = -1;
  retry_.reset();
  last_open_ms_ = Mux::milliseconds();
}

int HwMux::request(uint32_t number, void* arg) {
  if (fd_ < 0) {
    errno = ENODEV;
    return -1;
  }
  const int r = board::ioctl(fd_, number, arg);
  if (r >= 0 || !board::descriptor_gone(errno)) return r;
  const int error = errno;
  drop(error);
  if (!open_device()) {
    errno = error;
    return -1;
  }
  return board::ioctl(fd_, number, arg);
}

int HwMux::send(int channel, State state, bool direct) {
  if (!direct && fd_ < 0) {
    errno = ENODEV;
    return -1;
  }
  board::hal::MuxConnect c;
  board::hal::MuxValue v;
  board::hal::MuxChannel d;
  uint32_t number;
  void* arg;
  switch (state.kind) {
    case State::routed:
      c.output = channel;
      c.source = state.value;
      number = board::hal::MUX_CONNECT;
      arg = &c;
      break;
    case State::constant:
      v.channel = channel;
      v.value = static_cast<uint8_t>(state.value);
      number = board::hal::MUX_WRITE;
      arg = &v;
      break;
    default:
      d.channel = channel;
      number = board::hal::MUX_DISABLE;
      arg = &d;
      break;
  }
  return direct ? request(number, arg) : board::ioctl(fd_, number, arg);
}

bool HwMux::wish(int channel, State state, FailureLine failed) {
  if (channel < 0) return false;
  int error = EINVAL;
  bool owing = false;
  if (has(channel)) {
    model_.want(channel, state);
    SwitchModel::Output* o = model_.find(channel);
    const bool fresh = first_try(*o);
    const bool sent = send(channel, state, true) >= 0;
    error = errno;
    if (sent) {
      noted(true, fresh);
      model_.confirm(channel, state);
      took(*o);
      SwitchRoutes::settle();
      hasten_retry();
      return true;
    }
    // (A device away fails at once: the reopen sends what is wanted.)
    if (fd_ >= 0) noted(false, fresh);
    // Whatever the errno, the wish stands: the same request may be taken a moment later (a
    // switch busy, or refusing while it comes back from a reset).
    owing = fd_ >= 0 && o->want != o->confirmed;
    if (owing) {
      refused(channel, *o, Mux::milliseconds());
      owe_retry();
    }
  }
  if (fd_ >= 0 || error != ENODEV) failed(channel, static_cast<unsigned char>(state.value), error);
  if (owing) refusals_start(error);
  errno = error;
  return false;
}

void HwMux::noted(bool taken, bool fresh) {
  if (taken)
    taking_ = true;
  else if (fresh)
    taking_ = false;
}

void HwMux::back_off(SwitchModel::Output& o, uint32_t now) {
  o.retryMs = static_cast<uint16_t>(o.refused ? kRetryMaxMs
                                    : o.retryMs == 0 ? kRetryMs
                                                     : std::min(o.retryMs * 2u, kRetryMaxMs));
  o.retryAt = now + o.retryMs;
}

void HwMux::refused(int channel, SwitchModel::Output& o, uint32_t now) {
  if (!o.refused && taking_ && o.retryMs >= kRetryMaxMs) {
    o.refused = true;
    refused_.push_back(channel);
  }
  back_off(o, now);
}

void HwMux::took(SwitchModel::Output& o) {
  o.retryMs = 0;
  // (Its place in the budget's turn goes at the budget's next step.)
  o.refused = false;
}

void HwMux::refusals_start(int error) {
  if (refusing_) return;
  refusing_ = true;
  std::clog << "hwMux: owed requests refused: " << std::strerror(error) << ", " << model_.settle_owed() << " left"
            << std::endl;
}

void HwMux::owed_taken() {
  if (!refusing_ || model_.settle_owed() > 0) return;
  std::clog << "hwMux: owed requests taken" << std::endl;
  refusing_ = false;
}

void HwMux::Want(int channel, State state) {
  if (!has(channel)) return;
  model_.want(channel, state);
  if (fd_ >= 0 && model_.settle_owed() > 0) owe_retry();
}

void HwMux::owe_retry() {
  if (!retry_.is_set()) retry_.set(retry_ms_, &HwMux::OnRetryTimer, this);
}

void HwMux::hasten_retry() {
  // A switch that takes requests again takes what it still owes soon.
  if (!retry_.is_set() || retry_ms_ <= kRetryMs) return;
  retry_ms_ = kRetryMs;
  retry_.set(retry_ms_, &HwMux::OnRetryTimer, this);
}

void HwMux::OnRetryTimer() {
  if (fd_ >= 0) SendOwed();
}

void HwMux::arm_retry() {
  const uint32_t now = Mux::milliseconds();
  int32_t first = -1;  // ms until the first owed wish is due
  for (int channel : model_.owed()) {
    const SwitchModel::Output* o = model_.find(channel);
    if (o->want == o->confirmed || o->want.kind == State::none || o->refused) continue;
    const int32_t left = due(*o, now) ? 0 : static_cast<int32_t>(o->retryAt - now);
    if (first < 0 || left < first) first = left;
    if (first == 0) break;
  }
  if (first < 0) return retry_.reset();
  retry_.set(std::max(retry_ms_, static_cast<unsigned>(first)), &HwMux::OnRetryTimer, this);
}

bool HwMux::SendOwed() {
  std::vector<int>& owed = model_.owed();
  const uint32_t now = Mux::milliseconds();
  bool met_refusal = false;
  int error = 0;
  bool taken = false;
  for (std::size_t i = 0; i < owed.size() && fd_ >= 0; ++i) {
    const int channel = owed[i];
    SwitchModel::Output* o = model_.find(channel);
    // Outputs refused for good wait for their turn in the shared budget, not in this walk.
    if (o->want == o->confirmed || o->want.kind == State::none || o->refused || !due(*o, now)) continue;
    // A switch that refuses as a whole (busy) most often refuses the next request too: the
    // rest wait for the next walk. One that takes other requests refused only this output, and
    // the walk goes on.
    if (met_refusal && !taking_) break;
    const bool fresh = first_try(*o);
    const bool sent = send(channel, o->want, false) >= 0;
    noted(sent, fresh);
    if (sent) {
      model_.confirm(channel, o->want);
      took(*o);
      taken = true;
      continue;
    }
    error = errno;
    if (board::descriptor_gone(error)) {
      // Gone again: the paced reopen starts over with everything wanted (not at once, which
      // could go round for as long as the device hands out descriptors it gives up).
      drop(error);
      if (taken) SwitchRoutes::settle();
      return false;
    }
    // This one waits for its own interval.
    refused(channel, *o, now);
    met_refusal = true;
  }
  if (met_refusal)
    refusals_start(error);
  else
    owed_taken();
  if (taken) SwitchRoutes::settle();
  if (fd_ < 0) return false;
  // A walk that took nothing waits twice as long for the next.
  retry_ms_ = taken || !met_refusal ? kRetryMs : std::min(retry_ms_ * 2, kRetryMaxMs);
  arm_retry();
  return model_.settle_owed() == 0;
}

uint16_t HwMux::entry(int index) const {
  const State& s = model_.bus(index).want;
  if (s.kind == State::routed) return static_cast<uint16_t>(s.value);
  return s.kind == State::constant ? kConstant : kDisabled;
}

bool HwMux::Connect(int source, int output) {
  if (fd_ < 0 || source < 0 || output < 0) {
    std::clog << "hwMux: ERROR not opened" << std::endl;
    return false;
  }
  if (!has(source) || !has(output)) {
    std::clog << "hwMux: connect " << source << " -> " << output << " failed: " << std::strerror(EINVAL) << std::endl;
    return false;
  }
  // A refused connect leaves the output as it was wanted: the caller keeps or restores its
  // old path itself.
  const State state = State::Routed(source);
  const SwitchModel::Output* o = model_.find(output);
  const bool sent = send(output, state, true) >= 0;
  noted(sent, !o || !o->refused);
  if (!sent) {
    int error = errno;
    std::clog << "hwMux: connect " << source << " -> " << output << " failed: " << std::strerror(error) << std::endl;
    return false;
  }
  model_.want(output, state);
  model_.confirm(output, state);
  took(*model_.find(output));
  // A released channel's output taken over by a new route: the channel may be free now.
  SwitchRoutes::settle();
  return true;
}

bool HwMux::Disconnect(int channel) {
  return wish(channel, State::Constant(board::hal::kIdleByte), [](int c, unsigned char, int error) {
    std::clog << "hwMux: disconnect failed " << c << " : " << std::strerror(error) << std::endl;
  });
}

bool HwMux::Disable(int channel) {
  return wish(channel, State::Disabled(), [](int c, unsigned char, int error) {
    std::clog << "hwMux: disable failed " << c << " : " << std::strerror(error) << std::endl;
  });
}

bool HwMux::Write(int channel, unsigned char byte) {
  return wish(channel, State::Constant(byte), [](int c, unsigned char b, int error) {
    std::clog << "hwMux: write failed " << c << " <- " << "0x" << std::hex << static_cast<unsigned>(b) << std::dec
              << " : " << std::strerror(error) << std::endl;
  });
}

unsigned char HwMux::Read(int channel) {
  if (fd_ < 0 || channel < 0) return 255;
  board::hal::MuxValue r;
  r.channel = channel;
  r.value = 255;
  const bool read = request(board::hal::MUX_READ, &r) >= 0;
  noted(read, true);
  if (!read) {
    int error = errno;
    std::clog << "hwMux: read failed " << channel << " -> " << "0x" << std::hex
              << static_cast<uint32_t>(static_cast<int32_t>(r.value)) << std::dec << " : " << std::strerror(error)
              << std::endl;
    return 255;
  }
  return static_cast<unsigned char>(static_cast<int32_t>(r.value) & 0xFF);
}

// The sweep: a disabled output is disabled again (whatever else might drive it), another one
// sent when the switch does not carry it as wanted yet and its back-off lets it.
bool HwMux::RefreshChannel(int index) {
  if (index < 0 || index >= kOutputs || fd_ < 0) return false;
  SwitchModel::Output& o = model_.bus(index);
  const bool owed = o.want != o.confirmed;
  // One refused for good waits for its turn in the shared budget.
  if ((o.want.kind != State::disabled && !owed) || o.refused) return false;
  // An output the switch refused waits for its own interval, whatever it wants.
  const uint32_t now = o.retryMs ? Mux::milliseconds() : 0;
  if (!due(o, now)) return false;
  const int channel = kFirstOutput + index;
  const bool fresh = first_try(o);
  const bool sent = send(channel, o.want, false) >= 0;
  noted(sent, fresh);
  if (sent) {
    if (owed) model_.confirm(channel, o.want);
    took(o);
    hasten_retry();
    return true;
  }
  const int error = errno;
  if (board::descriptor_gone(error)) {
    drop(error);
    open_device();
  } else {
    refused(channel, o, now ? now : Mux::milliseconds());
  }
  return true;
}

void HwMux::probe(int channel) {
  board::hal::MuxValue r;
  r.channel = channel;
  r.value = 255;
  // A descriptor the driver gave up is dropped and reopened.
  noted(request(board::hal::MUX_READ, &r) >= 0, true);
}

void HwMux::OnRefreshTimer() {
  refresh_.set(kRefreshPeriodMs, &HwMux::OnRefreshTimer, this);
  if (fd_ < 0) {
    if (Mux::milliseconds() - last_open_ms_ >= kReopenMs) open_device();
    return;
  }
  if (!retry_.is_set() && !model_.owed().empty()) SendOwed();
  RefreshStep();
  RetryRefused();
}

void HwMux::RetryRefused() {
  // Out of the turn: outputs the switch took a request for since, and those with nothing left
  // to send (neither owed nor a disabled bus output the refresh would send again).
  std::erase_if(refused_, [this](int channel) {
    SwitchModel::Output& o = *model_.find(channel);
    if (o.refused && o.want.kind != State::none &&
        (o.want != o.confirmed || (SwitchModel::is_bus(channel) && o.want.kind == State::disabled)))
      return false;
    o.refused = false;
    return true;
  });
  if (refusedTurn_ >= refused_.size()) refusedTurn_ = 0;
  const uint32_t now = Mux::milliseconds();
  unsigned sent = 0;
  bool taken = false;
  const std::size_t first = refusedTurn_;
  for (std::size_t k = 0, n = refused_.size(); k < n && sent < kRefusedPerStep && fd_ >= 0; ++k) {
    const std::size_t i = (first + k) % n;
    const int channel = refused_[i];
    SwitchModel::Output& o = *model_.find(channel);
    if (!due(o, now)) continue;
    ++sent;
    refusedTurn_ = i + 1;
    const bool owed = o.want != o.confirmed;
    if (send(channel, o.want, false) >= 0) {
      if (owed) model_.confirm(channel, o.want);
      taken = taken || owed;
      took(o);
      noted(true, false);
      continue;
    }
    const int error = errno;
    if (board::descriptor_gone(error)) {
      drop(error);
      open_device();
      break;
    }
    back_off(o, now);
  }
  if (!taken) return;
  SwitchRoutes::settle();
  owed_taken();
}

// A step that sent nothing (every output it visited is driven as wanted) still makes one
// request, so that a reset is noticed whatever the outputs carry.
void HwMux::RefreshStep() {
  if (fd_ < 0) return;
  bool sent = false;
  for (int step = 0; step < kRefreshPerPass && fd_ >= 0; ++step) {
    if (++cursor_ > static_cast<unsigned>(kOutputs - 1)) cursor_ = 0;
    sent = RefreshChannel(static_cast<int>(cursor_)) || sent;
  }
  if (!sent && fd_ >= 0) probe(kFirstOutput + static_cast<int>(cursor_));
}
