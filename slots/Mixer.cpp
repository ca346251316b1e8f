#include "slots/Mixer.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "asn1/schemas/LGCP.h"
#include "board/board.h"
#include "hardware/DevNames.h"
#include "hardware/SwitchRoutes.h"
#include "slots/MixerFactory.h"
#include "slots/MixerSlot.h"

namespace Mixer {

using board::mixer::MixRx;
using board::mixer::MixSlot;

namespace {

// mixer_ctl, telling whether the request reached the unit (the device opened).
int issue(uint32_t request, void* arg, bool& reached) {
  reached = false;
  const int fd = board::open(GetMixerDevName(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  reached = true;
  const int result = board::ioctl(fd, request, arg);
  const int error = errno;
  board::close(fd);
  errno = error;
  return result;
}

}  // namespace

int mixer_ctl(uint32_t request, void* arg) {
  bool reached;
  return issue(request, arg, reached);
}

bool Mixer::request(uint32_t number, void* arg) {
  bool reached;
  if (issue(number, arg, reached) >= 0) return true;
  const int error = errno;
  // The device away, or a unit that no longer has a channel it had when it was found: when it
  // answers again, whatever it sums is not known. A shortage of descriptors says nothing of it.
  const bool away = reached ? error == EINVAL || error == ENODEV || error == ENXIO
                            : error != EMFILE && error != ENFILE && error != ENOMEM;
  if (away && !absent_) {
    absent_ = true;
    PutHeader(std::cerr);
    std::cerr << "unit not answering (" << std::strerror(error) << "): its sums are sent again once it does"
              << std::endl;
    forget_ = true;
  }
  lastReached_ = reached;
  errno = error;
  return false;
}

void Mixer::PutHeader(std::ostream& os) const { os << "mixer [" << unit << "]: "; }

MixSlot Mixer::tdm(int channel) const {
  MixSlot s;
  s.dev_no = unit;
  s.type = board::mixer::kTypeTdm;
  s.number = channel;
  return s;
}

bool Mixer::Channel2Slot(LGCP::MixerChannel const& channel, MixSlot& slot) const {
  slot = MixSlot{};
  slot.dev_no = unit;
  if (!channel.is_tdm()) return false;
  slot.type = board::mixer::kTypeTdm;
  slot.number = channel.get_tdm().getValue();
  return true;
}

int Mixer::channel2timeslot(int channel) {
  MixSlot s = tdm(channel);
  const int ts = mixer_ctl(board::mixer::MIX_TDM, &s);
  if (ts >= 0) return ts;
  const int error = errno;
  PutHeader(std::cerr);
  std::cerr << "MIX_TDM" << " dev_no=" << unit << " type=" << 0 << " number=" << channel
            << " fail : " << std::strerror(error) << std::endl;
  return -1;
}

bool Mixer::add(MixSlot const& rx, MixSlot const& tx, int gain, bool quiet) {
  MixRx r;
  r.rx = rx;
  r.tx = tx;
  r.gain = gain;
  if (request(board::mixer::MIX_RX_ADD, &r)) return true;
  if (!quiet) std::cerr << "MIX_RX_ADD" << " fail : " << std::strerror(errno) << std::endl;
  return false;
}

bool Mixer::remove(int output, int input, bool quiet) {
  MixRx r;
  r.rx = tdm(output);
  r.tx = tdm(input);
  r.gain = 0;
  if (request(board::mixer::MIX_RX_REMOVE, &r)) return true;
  const int error = errno;
  // The unit does not sum that input: what the removal was for holds.
  if (error == ENOENT && lastReached_) return true;
  if (!quiet) {
    PutHeader(std::cerr);
    std::cerr << "MIX_RX_REMOVE" << " rx.number=" << output << " tx.number=" << input << " fail : " << std::strerror(error)
              << std::endl;
  }
  return false;
}

bool Mixer::clear(int output, bool quiet) {
  MixSlot s = tdm(output);
  if (request(board::mixer::MIX_RX_CLEAR, &s)) return true;
  const int error = errno;
  if (!quiet) {
    PutHeader(std::cerr);
    std::cerr << "MIX_RX_CLEAR" << " dev_no=" << unit << " type=" << board::mixer::kTypeTdm << " number=" << output
              << " fail : " << std::strerror(error) << std::endl;
  }
  return false;
}

bool Mixer::settle(int output, Try how) {
  auto it = outputs_.find(output);
  if (it == outputs_.end()) return true;
  OutputSum& o = it->second;
  const bool quiet = how == Try::retry && o.owed;
  bool done = true;
  // One clear is the whole job when nothing is wanted, and the start when the sum is unknown.
  if (!o.held || (o.wanted.empty() && !o.held->empty())) {
    if (clear(output, quiet)) o.held.emplace();
    else done = false;
  }
  if (done) {
    Sum& held = *o.held;
    // Removals first: the unit sums a limited number of inputs.
    for (auto h = held.begin(); done && h != held.end();) {
      if (o.wanted.count(h->first)) {
        ++h;
      } else if (remove(output, h->first, quiet)) {
        h = held.erase(h);
      } else {
        done = false;
      }
    }
    for (auto w = o.wanted.begin(); done && w != o.wanted.end(); ++w) {
      auto h = held.find(w->first);
      if (h != held.end() && h->second == w->second) continue;
      if (add(tdm(output), tdm(w->first), w->second, quiet)) held[w->first] = w->second;
      else done = false;
    }
  }
  if (!done) {
    if (forget_) {
      forget_ = false;
      // The unit's absence was logged: each channel logs only when it is confirmed again.
      for (auto& entry : outputs_) {
        entry.second.held.reset();
        entry.second.owed = true;
      }
    }
    if (how != Try::attempt && !o.owed) {
      PutHeader(std::cerr);
      std::cerr << "sum of output " << output << " not confirmed, tried again later" << std::endl;
      o.owed = true;
    }
    return false;
  }
  if (absent_) {
    absent_ = false;
    PutHeader(std::clog);
    std::clog << "unit answers again" << std::endl;
  }
  if (o.owed) {
    PutHeader(std::clog);
    std::clog << "sum of output " << output << " confirmed" << std::endl;
  }
  if (o.wanted.empty() && o.users.empty()) outputs_.erase(it);
  else o.owed = false;
  return true;
}

std::size_t Mixer::owed() const {
  return static_cast<std::size_t>(std::count_if(outputs_.begin(), outputs_.end(), [](const auto& entry) {
    const OutputSum& o = entry.second;
    return !o.held || *o.held != o.wanted;
  }));
}

Mixer::Sum Mixer::wanted(int output) const {
  auto it = outputs_.find(output);
  return it == outputs_.end() ? Sum{} : it->second.wanted;
}

std::optional<Mixer::Sum> Mixer::held(int output) const {
  auto it = outputs_.find(output);
  if (it == outputs_.end()) return Sum{};
  return it->second.held;
}

void Mixer::arm() {
  if (retry_.is_set() || owed() == 0) return;
  retry_.set(retryMs_, &Mixer::OnRetry, this);
}

void Mixer::OnRetry() {
  std::vector<int> gaps;
  for (const auto& [output, o] : outputs_)
    if (!o.held || *o.held != o.wanted) gaps.push_back(output);
  if (gaps.empty()) {
    retryMs_ = kRetryMs;
    return;
  }
  // Round the channels from the one after the last pass's end: a channel the unit keeps
  // refusing does not hold the others back.
  auto first = std::upper_bound(gaps.begin(), gaps.end(), cursor_);
  std::rotate(gaps.begin(), first, gaps.end());
  if (gaps.size() > kOutputsPerPass) gaps.resize(kOutputsPerPass);
  bool refused = false;
  for (int output : gaps) {
    if (!settle(output, Try::retry)) refused = true;
    cursor_ = output;
  }
  if (owed() == 0) {
    retryMs_ = kRetryMs;
    return;
  }
  // The unit refused: wait longer each time. Otherwise only the pass's bound stopped it.
  if (refused) retryMs_ = std::min(retryMs_ * 2, kMaxRetryMs);
  retry_.set(refused ? retryMs_ : kRetryMs, &Mixer::OnRetry, this);
}

bool Mixer::unsummed(int channel) {
  std::vector<int> suspects;
  for (const auto& [output, o] : outputs_) {
    if (o.wanted.count(channel)) continue;  // summed there as a live port asked
    if (!o.held || o.held->count(channel)) suspects.push_back(output);
  }
  for (int output : suspects) {
    if (settle(output)) continue;
    arm();
    PutHeader(std::cerr);
    std::cerr << "channel " << channel << " still summed into output " << output << std::endl;
    return false;
  }
  return true;
}

int Mixer::channelOf(LGCP::MixerChannel const& ch) const {
  if (!ch.is_tdm()) return -1;
  const int v = ch.get_tdm().getValue();
  return v >= 0 && v < factory.minChannels ? v : -1;
}

Slot* Mixer::New(LGCP::MixerInParams const& p) {
  const int v = channelOf(p.get_channel());
  if (v < 0) return nullptr;
  int summator = -1;
  if (p.has_summator()) {
    const LGCP::MixerChannel& sum = p.get_summator();
    if (sum.is_tdm()) {
      summator = channelOf(sum);
      if (summator < 0) {
        PutHeader(std::cerr);
        std::cerr << "summator " << sum.get_tdm().getValue() << " is not a channel of the unit" << std::endl;
        return nullptr;
      }
      Sum inputs = wanted(summator);
      inputs.erase(v);
      if (static_cast<int>(inputs.size()) >= factory.minInputs) {
        PutHeader(std::cerr);
        std::cerr << "summator " << summator << " sums " << inputs.size() << " inputs already" << std::endl;
        return nullptr;
      }
    } else {
      // No add with a made-up channel: the input is made without a summing point.
      std::cerr << "wrong summator coding !" << std::endl;
    }
  }
  // The channel may still be heard in a sum of the port it had before.
  if (!unsummed(v)) return nullptr;
  const int ts = channel2timeslot(v);
  if (ts < 0 || !unrouted(v, ts)) return nullptr;
  const SumWish add{false, {{v, board::mixer::kFullGain}}};
  if (summator >= 0) {
    OutputSum& o = outputs_[summator];
    const Sum before = o.wanted;
    // As the newest wish: added on top of what the others make.
    o.wanted[v] = board::mixer::kFullGain;
    settle(summator, Try::attempt);
    const bool taken = o.held && o.held->count(v) && o.held->at(v) == board::mixer::kFullGain;
    if (!taken) {
      // Refused: the output goes back to what it was.
      o.wanted = before;
      settle(summator);
      arm();
      return nullptr;
    }
    arm();  // anything else of that output still owed
  }
  auto* in = new TdmInput(*this, v, ts);
  if (summator >= 0) {
    in->summed = true;
    in->summator = summator;
    outputs_[summator].users.wish(in, add);
  }
  if (p.has_ecm()) in->echoCancel(p.get_ecm().get_ec() || p.get_ecm().get_es());
  Register(in);
  return in;
}

Slot* Mixer::New(LGCP::MixerOutParams const& p) {
  // Everything the unit can be asked about is checked before any sum changes.
  const int v = channelOf(p.get_channel());
  if (v < 0 || !CheckInputs(p, v) || !unsummed(v)) return nullptr;
  const int ts = channel2timeslot(v);
  if (ts < 0 || !unrouted(v, ts)) return nullptr;
  if (!SetTX(p)) return nullptr;
  auto* out = new TdmOutput(*this, v, ts);
  OutputSum& o = outputs_[v];
  o.users.wish(out, SumWish{true, o.wanted});
  Register(out);
  return out;
}

std::optional<Mixer::Sum> Mixer::CheckInputs(LGCP::MixerOutParams const& p, int output) {
  const auto& inputs = p.get_inputs();
  Sum sum;
  // An output without inputs carries its own channel at full gain.
  if (inputs.size() == 0) sum[output] = board::mixer::kFullGain;
  for (unsigned i = 0; i < inputs.size(); ++i) {
    const LGCP::MixerChannel& ch = inputs[i].get_channel();
    if (!ch.is_tdm()) {
      std::cerr << "SetTX error: translation fail [2]" << std::endl;
      return std::nullopt;
    }
    const int input = channelOf(ch);
    if (input < 0) {
      PutHeader(std::cerr);
      std::cerr << "input " << ch.get_tdm().getValue() << " is not a channel of the unit" << std::endl;
      return std::nullopt;
    }
    sum[input] = inputs[i].get_gain().getValue();  // a channel listed again: the unit keeps the last gain
  }
  if (static_cast<int>(sum.size()) > factory.minInputs) {
    PutHeader(std::cerr);
    std::cerr << "output " << output << " sums at most " << std::max(factory.minInputs, 0) << " inputs, not "
              << sum.size() << std::endl;
    return std::nullopt;
  }
  return sum;
}

bool Mixer::SetTX(LGCP::MixerOutParams const& p) {
  const int output = channelOf(p.get_channel());
  if (output < 0) {
    std::cerr << "SetTX error: mixer translation fail" << std::endl;
    return false;
  }
  auto sum = CheckInputs(p, output);
  if (!sum) return false;
  OutputSum& o = outputs_[output];
  Sum wantedBefore = std::move(o.wanted);
  const std::optional<Sum> heldBefore = o.held;
  o.wanted = std::move(*sum);
  // The output's sum is replaced: it is cleared first, whatever else it held.
  o.held.reset();
  if (settle(output, Try::attempt)) return true;
  // Refused: the output goes back to what it summed. A refused clear changed nothing, unless
  // the unit was found away.
  o.wanted = std::move(wantedBefore);
  if (!o.held && !absent_) o.held = heldBefore;
  settle(output);
  arm();
  return false;
}

bool Mixer::ClearTX(LGCP::MixerChannel const& channel) {
  const int output = channelOf(channel);
  if (output < 0) {
    std::clog << "ClearTX error: translation fail" << std::endl;
    return false;
  }
  OutputSum& o = outputs_[output];
  o.users = SumUsers{};
  o.wanted.clear();
  const bool done = settle(output);
  arm();
  return done;
}

template <class Port>
void Mixer::silence(Port& port) {
  if (!port.toneGeneratorRunning()) return;
  port.enableSilence();
  port.disableToneGenerator(true);
}

void Mixer::Release(TdmInput& in) {
  // A port of a dropped unit holds nothing of the unit found again.
  if (in.channelLost) return UnRegister(&in);
  silence(in);
  if (in.summator >= 0) leave(in.summator, in, false);
  UnRegister(&in);
}

void Mixer::Release(TdmOutput& out) {
  if (out.channelLost) return UnRegister(&out);
  silence(out);
  leave(out.channel, out, true);
  UnRegister(&out);
}

Mixer::Sum Mixer::made(const SumUsers& users) {
  Sum sum;
  for (const SumUsers::Entry& e : users.entries()) {
    if (e.value.replaces) sum = e.value.sum;
    else
      for (const auto& [input, gain] : e.value.sum) sum[input] = gain;
  }
  return sum;
}

void Mixer::leave(int output, const MixerSlot& port, bool clear) {
  auto it = outputs_.find(output);
  if (it == outputs_.end() && !clear) return;
  OutputSum& o = it == outputs_.end() ? outputs_[output] : it->second;
  o.users.drop(&port);
  if (clear && o.users.empty()) {
    PutHeader(std::clog);
    std::clog << "clear tdm output " << output << std::endl;
    o.wanted.clear();
    // Cleared whatever the daemon believes the output holds.
    o.held.reset();
  } else {
    Sum next = made(o.users);
    if (next == o.wanted) return;
    o.wanted = std::move(next);
  }
  // A refused request stays owed: the timer tries it again, and no port takes a channel while
  // it is still summed.
  settle(output);
  arm();
}

bool Mixer::unrouted(int channel, int ts) {
  if (SwitchRoutes::claim_named(ts)) return true;
  PutHeader(std::cerr);
  std::cerr << "channel " << channel << " still routed for an earlier port" << std::endl;
  return false;
}

void Mixer::Register(MixerSlot* slot) { slots.push_back(slot); }

void Mixer::UnRegister(MixerSlot* slot) {
  slots.erase(std::remove(slots.begin(), slots.end(), slot), slots.end());
  CheckForDestroy();
}

void Mixer::CheckForDestroy() {
  if (slots.empty() && stale) delete this;
}

void Mixer::Reset() {
  PutHeader(std::clog);
  std::clog << "clear all inputs" << std::endl;
  outputs_.clear();
  int failed = 0;
  for (int channel = 0; channel < factory.minChannels; ++channel) {
    if (clear(channel, true)) continue;
    ++failed;
    // Not known to be empty: cleared again by the timer, and before a port sums the channel.
    outputs_[channel].owed = true;
  }
  forget_ = false;  // nothing is known of any channel yet
  if (failed) {
    PutHeader(std::cerr);
    std::cerr << "reset fail: " << failed << " errors." << std::endl;
    arm();
  }
}

void Mixer::OnDeviceReset() {
  if (outputs_.empty()) return;
  PutHeader(std::clog);
  std::clog << "sums sent again" << std::endl;
  for (auto& [output, o] : outputs_) o.held.reset();
  retry_.reset();
  retryMs_ = kRetryMs;
  std::vector<int> all;
  for (const auto& entry : outputs_) all.push_back(entry.first);
  for (std::size_t i = 0; i < all.size() && i < kOutputsPerPass; ++i) settle(all[i]);
  arm();
}

void Mixer::Clear() {
  // Forgotten, not cleared: nothing is asked of a unit that is gone. No later port can hold one
  // of its channels yet, since a unit found again is a new mixer, made only after this one is
  // dropped; the ports' tone and DSP clean-ups leave what another live receiver of their
  // timeslots has on.
  outputs_.clear();
  retry_.reset();
  // A copy: the ports stay listed until the controller destroys them. Their channels go now:
  // the unit may be found again, with other ports on the same channels and timeslots.
  const std::vector<MixerSlot*> ports = slots;
  for (MixerSlot* port : ports) {
    port->LoseChannel();
    port->OnAbort(0);
  }
  CheckForDestroy();
}

}  // namespace Mixer
