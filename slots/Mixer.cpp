#include "slots/Mixer.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "asn1/schemas/LGCP.h"
#include "board/board.h"
#include "hardware/DevNames.h"
#include "slots/MixerFactory.h"
#include "slots/MixerSlot.h"

namespace Mixer {

using board::mixer::MixRx;
using board::mixer::MixSlot;

int mixer_ctl(uint32_t request, void* arg) {
  const int fd = board::open(GetMixerDevName(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  const int result = board::ioctl(fd, request, arg);
  const int error = errno;
  board::close(fd);
  errno = error;
  return result;
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

bool Mixer::add(MixSlot const& rx, MixSlot const& tx, int gain) {
  MixRx r;
  r.rx = rx;
  r.tx = tx;
  r.gain = gain;
  if (mixer_ctl(board::mixer::MIX_RX_ADD, &r) >= 0) return true;
  std::cerr << "MIX_RX_ADD" << " fail : " << std::strerror(errno) << std::endl;
  return false;
}

template <class Port>
Port* Mixer::NewPort(LGCP::MixerChannel const& ch) {
  if (!ch.is_tdm()) return nullptr;
  const int v = ch.get_tdm().getValue();
  if (v < 0 || v >= factory.minChannels) return nullptr;
  const int ts = channel2timeslot(v);
  if (ts < 0) return nullptr;
  return new Port(*this, v, ts);
}

Slot* Mixer::New(LGCP::MixerInParams const& p) {
  auto* in = NewPort<TdmInput>(p.get_channel());
  if (!in) return nullptr;
  const int v = in->channel;
  if (p.has_summator()) {
    const LGCP::MixerChannel& sum = p.get_summator();
    if (sum.is_tdm()) {
      in->summed = true;
      in->summator = sum.get_tdm().getValue();
      add(tdm(in->summator), tdm(v), board::mixer::kFullGain);
    } else {
      // No add with a made-up channel: the input is made without a summing point.
      std::cerr << "wrong summator coding !" << std::endl;
    }
  }
  if (p.has_ecm()) in->echoCancel(p.get_ecm().get_ec() || p.get_ecm().get_es());
  Register(in);
  return in;
}

Slot* Mixer::New(LGCP::MixerOutParams const& p) {
  if (!SetTX(p)) return nullptr;
  auto* out = NewPort<TdmOutput>(p.get_channel());
  if (!out) return nullptr;
  Register(out);
  return out;
}

bool Mixer::SetTX(LGCP::MixerOutParams const& p) {
  if (!ClearTX(p.get_channel())) return false;
  const auto& inputs = p.get_inputs();
  MixSlot rx, tx;
  if (inputs.size() == 0) {
    // An output without inputs carries its own channel at full gain.
    if (!Channel2Slot(p.get_channel(), rx)) {
      std::cerr << "SetTX error: mixer translation fail" << std::endl;
      return false;
    }
    return add(rx, rx, board::mixer::kFullGain);
  }
  for (unsigned i = 0; i < inputs.size(); ++i) {
    if (!Channel2Slot(p.get_channel(), rx)) {
      std::cerr << "SetTX error: translation fail [1]" << std::endl;
      return false;
    }
    if (!Channel2Slot(inputs[i].get_channel(), tx)) {
      std::cerr << "SetTX error: translation fail [2]" << std::endl;
      return false;
    }
    if (!add(rx, tx, inputs[i].get_gain().getValue())) return false;
  }
  return true;
}

bool Mixer::ClearTX(LGCP::MixerChannel const& channel) {
  MixSlot s;
  if (!Channel2Slot(channel, s)) {
    std::clog << "ClearTX error: translation fail" << std::endl;
    return false;
  }
  if (mixer_ctl(board::mixer::MIX_RX_CLEAR, &s) >= 0) return true;
  const int error = errno;
  PutHeader(std::cerr);
  std::cerr << "MIX_RX_CLEAR" << " dev_no=" << static_cast<int32_t>(s.dev_no) << " type=" << static_cast<int32_t>(s.type)
            << " number=" << static_cast<int32_t>(s.number) << " fail : " << std::strerror(error) << std::endl;
  return false;
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
  if (in.summator >= 0) {
    MixRx r;
    r.rx = tdm(in.summator);
    r.tx = tdm(in.channel);
    r.gain = 0;
    if (mixer_ctl(board::mixer::MIX_RX_REMOVE, &r) < 0) {
      const int error = errno;
      PutHeader(std::cerr);
      std::cerr << "MIX_RX_REMOVE" << " rx.number=" << in.summator << " tx.number=" << in.channel
                << " fail : " << std::strerror(error) << std::endl;
    }
  }
  UnRegister(&in);
}

void Mixer::Release(TdmOutput& out) {
  if (out.channelLost) return UnRegister(&out);
  silence(out);
  PutHeader(std::clog);
  std::clog << "clear tdm output " << out.channel << std::endl;
  MixSlot s = tdm(out.channel);
  mixer_ctl(board::mixer::MIX_RX_CLEAR, &s);
  UnRegister(&out);
}

bool Mixer::InputOn(int channel) const {
  return std::any_of(slots.begin(), slots.end(), [channel](const MixerSlot* s) {
    return s->channel == channel && dynamic_cast<const TdmInput*>(s) != nullptr;
  });
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
  int failed = 0;
  for (int channel = 0; channel < factory.minChannels; ++channel) {
    MixSlot s = tdm(channel);
    if (mixer_ctl(board::mixer::MIX_RX_CLEAR, &s) < 0) ++failed;
  }
  if (failed) {
    PutHeader(std::cerr);
    std::cerr << "reset fail: " << failed << " errors." << std::endl;
  }
}

void Mixer::Clear() {
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
