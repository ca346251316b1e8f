#include "board/sim/SimDspData.h"

#include <cerrno>

#include "board/dspdata.h"

namespace board::sim {

namespace {
// B channels sit above the controller channels in switch numbering, four per signalling channel.
constexpr int kFirstBChannel = 5120;
constexpr int kFirstSignalling = 4096;
}  // namespace

int SimDspData::b_channel(int signalling, uint32_t index) {
  return kFirstBChannel + (signalling - kFirstSignalling) * 4 + static_cast<int>(index);
}

int SimDspData::open_b(int signalling, uint32_t index, int& error) {
  if (index >= dspdata::kBChannels) {
    error = EINVAL;
    return -1;
  }
  if (!open_[signalling].insert(index).second) {
    error = EBUSY;
    return -1;
  }
  return b_channel(signalling, index);
}

int SimDspData::close_b(int signalling, uint32_t index, int channel, int& error) {
  auto it = open_.find(signalling);
  if (it == open_.end() || !it->second.count(index) || channel != b_channel(signalling, index)) {
    error = EINVAL;
    return -1;
  }
  it->second.erase(index);
  return 0;
}

}  // namespace board::sim
