#include "board/sim/SimBoard.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "board/dsp.h"
#include "board/dspdata.h"
#include "board/dtmf.h"
#include "board/e1cas.h"
#include "board/hal.h"
#include "board/maintenance.h"
#include "board/mcc.h"

namespace board::sim {

struct SimBoard::Handle {
  Device device;
  int sim_fd;
  uint64_t key;
  int fd = -1;       // the daemon's descriptor as open() returned it
  int channel = -1;  // the controller channel allocated on this descriptor
};

namespace {

constexpr size_t kMaxFrame = 65536;
constexpr int kControllerChannels = 256;

uint64_t key_of(const struct stat& st) {
  return (static_cast<uint64_t>(st.st_dev) << 40) ^ static_cast<uint64_t>(st.st_ino);
}


bool valid_feature_mask(uint32_t mask) {
  using namespace board::dsp;
  return mask != 0 && (mask & ~(kVad | kSd | kMuteFirst | kMuteSecond | kBss | kNg | kToneFilters)) == 0;
}

bool counts_as_data(uint32_t type) { return type == mcc::kTypeData || type == mcc::kTypeSs7; }

}  // namespace

// ---------------------------------------------------------------- life

SimBoard& SimBoard::instance() {
  // Never destroyed: singletons of the daemon close their devices during exit.
  static SimBoard* board = new SimBoard;
  return *board;
}

SimBoard::SimBoard()
    : epoll_fd_(::epoll_create1(EPOLL_CLOEXEC)), far_end_(std::make_unique<SimFarEnd>(epoll_fd_)), buffer_(kMaxFrame) {}

SimBoard::~SimBoard() {
  far_end_.reset();
  for (auto& [key, h] : handles_) ::close(h->sim_fd);
  if (epoll_fd_ >= 0) ::close(epoll_fd_);
}

void SimBoard::reset() {
  for (int d = 0; d < kDevices; ++d) hangup(static_cast<Device>(d));
  state_ = BoardState{};
  channels_.clear();
  rtp_ext_.reset();
  modem_.reset();
  netif_.reset();
  dspdata_.reset();
  clear_requests();
  fail_open_ = {};
  fail_next_ = {};
  on_frame_sent = nullptr;
  far_end_->reset();
}

// ---------------------------------------------------------------- the seam

int SimBoard::open(const char* path, int flags) {
  service();
  auto device = path ? find_device(path) : std::nullopt;
  if (!device || std::strcmp(device_path(*device), path) != 0) {
    errno = ENOENT;
    return -1;
  }
  if (int error = fail_open_[static_cast<int>(*device)]) {
    errno = error;
    return -1;
  }
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) < 0) return -1;
  int sim_fd = sv[1];
  int fd = sv[0];
  ::fcntl(sim_fd, F_SETFL, ::fcntl(sim_fd, F_GETFL) | O_NONBLOCK);
  if (flags & O_NONBLOCK) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  if (!(flags & O_CLOEXEC)) ::fcntl(fd, F_SETFD, 0);
  struct stat st{};
  ::fstat(fd, &st);
  uint64_t key = key_of(st);
  if (handles_.count(key)) release(key);  // a stale entry whose inode was reused
  hung_up_.erase(key);
  epoll_event ev{};
  ev.events = EPOLLIN | EPOLLRDHUP;
  ev.data.u64 = key;
  if (::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, sim_fd, &ev) < 0) {
    int error = errno;
    ::close(fd);
    ::close(sim_fd);
    errno = error;
    return -1;
  }
  auto& h = handles_[key];
  h = std::make_unique<Handle>(Handle{*device, sim_fd, key, fd});
  if (static_cast<size_t>(fd) >= by_fd_.size()) by_fd_.resize(static_cast<size_t>(fd) + 1);
  by_fd_[static_cast<size_t>(fd)] = FdEntry{h.get(), false};
  return fd;
}

bool SimBoard::open_anywhere(uint64_t key) {
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return true;
  bool found = false;
  const int own = ::dirfd(dir);
  while (const dirent* e = ::readdir(dir)) {
    struct stat st{};
    const int fd = std::atoi(e->d_name);
    if (e->d_name[0] != '.' && fd != own && ::fstat(fd, &st) == 0 && key_of(st) == key) {
      found = true;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

void SimBoard::forget_fd(int fd) {
  if (fd >= 0 && static_cast<size_t>(fd) < by_fd_.size()) by_fd_[static_cast<size_t>(fd)] = FdEntry{};
}

int SimBoard::close(int fd) {
  // A hung-up end is remembered only while some descriptor of it is open, so that hang-ups do
  // not pile up over a long run.
  std::optional<uint64_t> hung_up;
  struct stat st{};
  if (fd >= 0 && static_cast<size_t>(fd) < by_fd_.size() && by_fd_[static_cast<size_t>(fd)].hung_up &&
      ::fstat(fd, &st) == 0)
    hung_up = key_of(st);
  forget_fd(fd);
  int r = ::close(fd);
  int error = errno;
  if (hung_up && !open_anywhere(*hung_up)) hung_up_.erase(*hung_up);
  service();  // the last close of a device releases it (and its controller channel) at once
  errno = error;
  return r;
}

int SimBoard::ioctl(int fd, uint32_t request, void* argp) { return this->request(fd, request, argp, false, 0); }

int SimBoard::ioctl_value(int fd, uint32_t request, unsigned long value) {
  return this->request(fd, request, nullptr, true, value);
}

namespace {

// Devices whose every descriptor holds something of its own (a channel, a session, a modem).
// The daemon duplicates such descriptors and closes them with a plain close(), which the table
// of numbers does not see: a number may be another device's duplicate by now. They are found by
// the device their descriptor is, at the cost of one fstat(); the devices of one process-wide
// descriptor (the switch, the detectors: the requests of every loop pass) by number.
bool found_by_device(Device device) {
  switch (device) {
    case Device::mcc:
    case Device::rtp:
    case Device::rtp_ext:
    case Device::mctl:
    case Device::dspdata: return true;
    default: return false;
  }
}

}  // namespace

SimBoard::Handle* SimBoard::find(int fd, int& error) {
  if (fd >= 0 && static_cast<size_t>(fd) < by_fd_.size()) {
    const FdEntry& e = by_fd_[static_cast<size_t>(fd)];
    if (e.handle && !found_by_device(e.handle->device)) return e.handle;
  }
  // A hung-up descriptor's number may have been reused too; its inode still says it hung up.
  return find_by_inode(fd, error);
}

SimBoard::Handle* SimBoard::find_by_inode(int fd, int& error) {
  struct stat st{};
  if (::fstat(fd, &st) < 0) {
    error = EBADF;
    return nullptr;
  }
  uint64_t key = key_of(st);
  auto it = handles_.find(key);
  if (it == handles_.end()) {
    error = S_ISSOCK(st.st_mode) && hung_up_.count(key) ? ENODEV : ENOTTY;
    return nullptr;
  }
  return it->second.get();
}

int SimBoard::request(int fd, uint32_t number, void* argp, bool by_value, unsigned long value) {
  int error = 0;
  // Controller channels that the daemon released since are free again before it asks for one.
  if (number == mcc::MCC_ALLOCATE || number == mcc::MCC_RESOURCES) service();
  Handle* h = find(fd, error);
  if (!h) {
    errno = error;
    return -1;
  }
  // A request its device does not know may come on a number that a duplicate of another
  // device took over: that device answers it.
  if (!find_request(h->device, number)) {
    int again = 0;
    if (Handle* other = find_by_inode(fd, again)) h = other;
  }
  Request r;
  r.device = h->device;
  r.number = number;
  r.def = find_request(h->device, number);
  uint8_t* record = nullptr;
  if (!r.def) {
    error = ENOTTY;
  } else if (r.def->form == ArgForm::record) {
    // A value where a pointer belongs is an address the driver cannot copy from.
    if (by_value || !argp) {
      error = EFAULT;
    } else {
      record = static_cast<uint8_t*>(argp);
      r.record_size = static_cast<uint8_t>(std::min(request_size(number), Request::kRecordBytes));
      std::memcpy(r.record.data(), record, r.record_size);
      r.arg_count = r.def->field_count;
      for (int i = 0; i < r.arg_count; ++i) r.args[static_cast<size_t>(i)] = read_field(r.def->fields[i], record);
    }
  } else if (r.def->form == ArgForm::value) {
    // Through the pointer form the driver sees the pointer's bits as the value, as the kernel would.
    if (!by_value) value = static_cast<unsigned long>(reinterpret_cast<uintptr_t>(argp));
    // The board's unsigned long is one 32-bit word: what a 64-bit host passes beyond it never
    // reaches a driver, so a value decodes and acts alike on the host and on the board.
    value = static_cast<uint32_t>(value);
    r.arg_count = 1;
    r.args[0] = static_cast<int64_t>(value);
  }
  FailNext& fail = fail_next_[static_cast<int>(h->device)];
  if (!error && fail.count > 0 && (fail.number == 0 || fail.number == number) &&
      (!fail.first || (r.arg_count > 0 && r.args[0] == *fail.first))) {
    --fail.count;
    error = fail.error;
  }
  if (!error) {
    r.result = h->device == Device::rtp_ext ? rtp_ext_.request(h->key, fd, number, record, error)
                                            : execute(*h, *r.def, record, value, error);
  }
  if (error) r.result = -1;
  r.error = error;
  record_request(r);
  if (error) errno = error;
  return r.result;
}

void SimBoard::RequestLog::push(const Request& r) {
  if (ring.size() < kRequestLimit) {
    ring.push_back(r);
    return;
  }
  ring[head] = r;
  head = (head + 1) % ring.size();
}

void SimBoard::record_request(const Request& r) {
  auto& log = requests_[static_cast<int>(r.device)][r.number];
  log.push(r);
  log.ring[log.head == 0 ? log.ring.size() - 1 : log.head - 1].sequence = ++sequence_;
  ++request_totals_[static_cast<int>(r.device)];
}

int SimBoard::execute(Handle& h, const RequestDef& def, uint8_t* record, unsigned long value, int& error) {
  switch (h.device) {
    case Device::hal: return hal_request(def.number, record, error);
    case Device::mcc: return mcc_request(h, def.number, record, error);
    case Device::maintenance: return maintenance_request(def.number, record, value, error);
    case Device::e1cas: return e1cas_request(def.number, record, value, error);
    case Device::dtmf: return dtmf_request(def.number, record, value, error);
    case Device::dsp: return dsp_request(def.number, record, value, error);
    case Device::rtp_ext: break;  // served by its model in request()
    case Device::rtp: return state_.rtp.request(h.key, def.number, record, error);
    case Device::voice: return state_.voice.request(def.number, record, error);
    case Device::mctl: return modem_.request(h.key, def.number, record, value, error);
    case Device::dspdata: return dspdata_request(h, def.number, record, error);
    case Device::mixer: return state_.mixer.request(def.number, record, error);
  }
  error = ENOTTY;
  return -1;
}

// ---------------------------------------------------------------- "/dev/hal"

int SimBoard::hal_request(uint32_t number, uint8_t* record, int& error) {
  auto& mux = state_.mux;
  if (!refused_channels_.empty() && (number == hal::MUX_CONNECT || number == hal::MUX_DISABLE || number == hal::MUX_WRITE)) {
    // Every one of these records names its output first; a connect names its source second.
    const auto* connect = reinterpret_cast<const hal::MuxConnect*>(record);
    for (const int32_t channel : {int32_t(connect->output), number == hal::MUX_CONNECT ? int32_t(connect->source) : -1}) {
      const auto it = refused_channels_.find(channel);
      if (it != refused_channels_.end()) {
        error = it->second;
        return -1;
      }
    }
  }
  switch (number) {
    case hal::MUX_CONNECT: {
      auto* r = reinterpret_cast<hal::MuxConnect*>(record);
      if (!SimSwitch::valid(r->output) || !SimSwitch::valid(r->source)) break;
      mux.connect(r->output, r->source);
      return 0;
    }
    case hal::MUX_DISABLE: {
      auto* r = reinterpret_cast<hal::MuxChannel*>(record);
      if (!SimSwitch::valid(r->channel)) break;
      mux.disable(r->channel);
      return 0;
    }
    case hal::MUX_WRITE: {
      auto* r = reinterpret_cast<hal::MuxValue*>(record);
      if (!SimSwitch::valid(r->channel) || r->value < 0 || r->value > 255) break;
      mux.write(r->channel, static_cast<uint8_t>(r->value));
      return 0;
    }
    case hal::MUX_READ: {
      auto* r = reinterpret_cast<hal::MuxValue*>(record);
      if (!SimSwitch::valid(r->channel)) break;
      r->value = mux.read(r->channel);
      return 0;
    }
    case hal::HW_CLOCK_SELECT: {
      auto* r = reinterpret_cast<hal::ClockSource*>(record);
      if (r->source < 0 || r->source > 7) break;
      state_.clock_source = r->source;
      return 0;
    }
    case hal::SPI_READ:
    case hal::SPI_WRITE: {
      auto* r = reinterpret_cast<hal::SpiRegister*>(record);
      if (!state_.spi_present) {
        error = ENODEV;
        return -1;
      }
      if (r->channel >= state_.spi.size()) break;
      uint8_t& reg = state_.spi[r->channel][r->address];
      if (number == hal::SPI_READ) return reg;
      reg = r->data;
      return 0;
    }
    case hal::DIP_READ: reinterpret_cast<hal::ByteRegister*>(record)->value = state_.dip; return 0;
    case hal::POWER_READ: reinterpret_cast<hal::ByteRegister*>(record)->value = state_.power; return 0;
    case hal::LED_WRITE: state_.leds = reinterpret_cast<hal::ByteRegister*>(record)->value; return 0;
  }
  error = EINVAL;
  return -1;
}

// ---------------------------------------------------------------- "/dev/mcc/ctl"

int SimBoard::mcc_request(Handle& h, uint32_t number, uint8_t* record, int& error) {
  auto in_use = [this](auto pred) {
    uint32_t n = 0;
    for (const auto& [ch, c] : channels_) n += (c.open && pred(c.type)) ? 1 : 0;
    return n;
  };
  auto is = [](uint32_t kind) { return [kind](uint32_t t) { return t == kind; }; };
  switch (number) {
    case mcc::MCC_ALLOCATE: {
      auto* r = reinterpret_cast<mcc::Allocate*>(record);
      if (h.channel >= 0) {
        error = EBUSY;
        return -1;
      }
      uint32_t type = r->type;
      if (type > mcc::kTypeSs7 || r->rx_packet_size > kMaxFrame) break;
      uint32_t used = counts_as_data(type) ? in_use(counts_as_data) : in_use(is(type));
      uint32_t capacity = counts_as_data(type)          ? state_.mcc_data_capacity
                          : type == mcc::kTypeBri ? state_.mcc_bri_capacity
                                                  : state_.mcc_transparent_capacity;
      if (used >= capacity) {
        error = ENOSPC;
        return -1;
      }
      int channel = allocate_channel(h, type, error);
      if (channel < 0) return -1;
      HdlcChannel& c = channels_[channel];
      c.rx_packet_size = r->rx_packet_size;
      c.rx_threshold = r->rx_threshold;
      c.tx_threshold = r->tx_threshold;
      return 0;
    }
    case mcc::MCC_TIMESLOT:
      if (h.channel < 0) break;
      return h.channel;
    case mcc::MCC_RESOURCES: {
      auto* r = reinterpret_cast<mcc::Resources*>(record);
      auto left = [](uint32_t cap, uint32_t used) { return used >= cap ? 0u : cap - used; };
      r->data = left(state_.mcc_data_capacity, in_use(counts_as_data));
      r->bri = left(state_.mcc_bri_capacity, in_use(is(mcc::kTypeBri)));
      r->transparent = left(state_.mcc_transparent_capacity, in_use(is(mcc::kTypeTransparent)));
      r->reserved = 0;
      return 0;
    }
  }
  error = EINVAL;
  return -1;
}

int SimBoard::allocate_channel(Handle& h, uint32_t type, int& error) {
  for (int i = 0; i < kControllerChannels; ++i) {
    int channel = kFirstHdlcChannel + i;
    auto it = channels_.find(channel);
    if (it != channels_.end() && it->second.open) continue;
    HdlcChannel c;
    c.channel = channel;
    c.open = true;
    c.type = type;
    channels_[channel] = std::move(c);
    h.channel = channel;
    return channel;
  }
  error = ENOSPC;
  return -1;
}

// ---------------------------------------------------------------- "/dev/dsp-data"

// The descriptor's signalling channel is taken from the controller's channels on its first
// request, so that its frames travel through the switch and to far ends like theirs.
int SimBoard::dspdata_request(Handle& h, uint32_t number, uint8_t* record, int& error) {
  if (h.channel < 0 && allocate_channel(h, SimDspData::kChannelType, error) < 0) return -1;
  switch (number) {
    case dspdata::DSPDATA_TIMESLOT: return h.channel;
    case dspdata::DSPDATA_OPEN_B: {
      auto* r = reinterpret_cast<dspdata::BChannel*>(record);
      int channel = dspdata_.open_b(h.channel, r->index, error);
      if (channel < 0) return -1;
      r->channel = channel;
      return 0;
    }
    case dspdata::DSPDATA_CLOSE_B: {
      auto* r = reinterpret_cast<dspdata::BChannel*>(record);
      return dspdata_.close_b(h.channel, r->index, r->channel, error);
    }
  }
  error = EINVAL;
  return -1;
}

// ---------------------------------------------------------------- "/dev/maintenance"

int SimBoard::maintenance_request(uint32_t number, uint8_t* record, unsigned long value, int& error) {
  switch (number) {
    case maintenance::SET_TCLK:
      state_.tclk_mask = static_cast<uint32_t>(value);
      return 0;
    case maintenance::TRUNK_STATUS: {
      auto* r = reinterpret_cast<maintenance::TrunkStatus*>(record);
      if (r->trunk >= state_.trunks.size()) break;
      const TrunkState& t = state_.trunks[r->trunk];
      r->slips = t.slips;
      r->loss_bf = t.loss_bf;
      r->loss_carrier = t.loss_carrier;
      r->ais = t.ais;
      r->rai = t.rai;
      r->state = t.state;
      return 0;
    }
  }
  error = EINVAL;
  return -1;
}

// ---------------------------------------------------------------- "/dev/e1-cas"

int SimBoard::e1cas_request(uint32_t number, uint8_t* record, unsigned long value, int& error) {
  auto signalling = [this](uint32_t trunk, uint32_t ts) {
    return trunk < state_.cas.size() && state_.cas_trunk_open[trunk] && ts < 32 && ts != 0 && ts != 16;
  };
  switch (number) {
    case e1cas::CAS_OPEN_TRUNK:
      if (value >= state_.cas_trunk_open.size()) break;
      state_.cas_trunk_open[value] = true;
      return 0;
    case e1cas::CAS_CLOSE_TRUNK:
      if (value >= state_.cas_trunk_open.size()) break;
      state_.cas_trunk_open[value] = false;
      for (auto& c : state_.cas[value]) c.enabled = false;
      return 0;
    case e1cas::CAS_GET: {
      auto* r = reinterpret_cast<e1cas::CasChannel*>(record);
      if (!signalling(r->trunk, r->timeslot)) break;
      const CasChannelState& c = state_.cas[r->trunk][r->timeslot];
      r->rx = c.rx;
      r->tx = c.tx;
      return 0;
    }
    case e1cas::CAS_ENABLE: {
      auto* r = reinterpret_cast<e1cas::CasEnable*>(record);
      if (!signalling(r->channel.trunk, r->channel.timeslot) || r->disable > 1) break;
      CasChannelState& c = state_.cas[r->channel.trunk][r->channel.timeslot];
      c.enabled = r->disable == 0;
      if (c.enabled) c.tx = r->channel.tx & 0x0F;
      return 0;
    }
  }
  error = EINVAL;
  return -1;
}

// ---------------------------------------------------------------- "/dev/dtmf"

int SimBoard::dtmf_request(uint32_t number, uint8_t* record, unsigned long value, int& error) {
  // Every request names its timeslot first, in the record or as the value.
  uint64_t ts = record ? static_cast<uint32_t>(reinterpret_cast<be_u32*>(record)->get()) : value;
  if (ts > static_cast<uint64_t>(kMaxTimeslot)) {
    error = EINVAL;
    return -1;
  }
  ToneTimeslot& t = state_.tones[static_cast<uint32_t>(ts)];
  switch (number) {
    case dtmf::DTMF_CONFIGURE_DETECTOR: {
      auto* r = reinterpret_cast<dtmf::DetectorConfig*>(record);
      t.twist = r->twist;
      t.ratio = r->ratio;
      t.silence = r->silence;
      t.noise = r->noise;
      return 0;
    }
    case dtmf::DTMF_ENABLE_DETECTOR:
      t.detector = true;
      t.detector_id = reinterpret_cast<dtmf::DetectorEnable*>(record)->id;
      return 0;
    case dtmf::DTMF_DISABLE_DETECTOR: t.detector = false; return 0;
    case dtmf::DTMF_DIAL: {
      auto* r = reinterpret_cast<dtmf::ToneGenerator*>(record);
      t.frequency1 = r->frequency1;
      t.frequency2 = r->frequency2;
      t.amplitude1 = r->amplitude1;
      t.amplitude2 = r->amplitude2;
      return 0;
    }
    case dtmf::CHANNEL_LMS_ON: t.echo_canceller = true; return 0;
    case dtmf::CHANNEL_LMS_OFF: t.echo_canceller = false; return 0;
    case dtmf::DTMF_REJECTION_ENABLE: t.rejection = true; return 0;
    case dtmf::DTMF_REJECTION_DISABLE: t.rejection = false; return 0;
    case dtmf::IVA_DETECTOR_ENABLE: t.iva = true; return 0;
    case dtmf::IVA_DETECTOR_DISABLE: t.iva = false; return 0;
    case dtmf::IVA_CONFIGURE_DETECTOR: t.iva_level_db = reinterpret_cast<dtmf::IvaConfig*>(record)->level_db; return 0;
    case dtmf::SELCAL_DIAL: {
      auto* r = reinterpret_cast<dtmf::SelcalDial*>(record);
      t.selcal.assign(r->signs, sizeof r->signs);
      return 0;
    }
  }
  error = EINVAL;
  return -1;
}

// ---------------------------------------------------------------- "/dev/dsp"

int SimBoard::dsp_request(uint32_t number, uint8_t* record, unsigned long, int& error) {
  if (number == dsp::DSPROC_VAD_VERSION) return static_cast<int>(state_.vad_version);
  uint32_t ts = reinterpret_cast<be_u32*>(record)->get();
  if (ts > static_cast<uint32_t>(kMaxTimeslot)) {
    error = EINVAL;
    return -1;
  }
  switch (number) {
    case dsp::DSPROC_CONFIGURE: {
      auto* r = reinterpret_cast<dsp::Configure*>(record);
      uint32_t what = r->what;
      if (what != dsp::kConfigureVad && what != dsp::kConfigureSd && what != dsp::kConfigureDelays &&
          what != dsp::kConfigureRxGain && what != dsp::kConfigureToneFilter)
        break;
      std::array<uint8_t, 12> payload;
      std::memcpy(payload.data(), r->payload, payload.size());
      DspTimeslot& d = state_.dsp[ts];
      d.configured[what] = payload;
      if (what == dsp::kConfigureToneFilter) {
        const auto filter = dsp::payload_as<dsp::ToneFilterPayload>(r->payload);
        if (filter.enable != 0) d.tone_filters[filter.frequency] = payload;
        else d.tone_filters.erase(filter.frequency);
      }
      return 0;
    }
    case dsp::DSPROC_ENABLE:
    case dsp::DSPROC_DISABLE: {
      auto* r = reinterpret_cast<dsp::FeatureMask*>(record);
      uint32_t mask = r->mask;
      if (!valid_feature_mask(mask)) break;
      DspTimeslot& d = state_.dsp[ts];
      if (number == dsp::DSPROC_DISABLE) {
        d.enabled &= ~mask;
        if (mask & dsp::kToneFilters) d.tone_filters.clear();
        return 0;
      }
      d.enabled |= mask;
      for (uint32_t bit = 1; bit != 0 && bit <= mask; bit <<= 1) {
        if (mask & bit) d.ids[bit] = r->id;
      }
      return 0;
    }
  }
  error = EINVAL;
  return -1;
}

// ---------------------------------------------------------------- running

void SimBoard::service() {
  epoll_event events[32];
  // Bounded, so that a daemon writing without pause cannot hold the board here forever.
  for (int round = 0; round < 64; ++round) {
    int n = ::epoll_wait(epoll_fd_, events, 32, 0);
    if (n <= 0) return;
    for (int i = 0; i < n; ++i) {
      uint64_t key = events[i].data.u64;
      if (SimFarEnd::is_far_end_key(key)) {
        far_end_->drain(key, events[i].events, [this](int ch, std::span<const uint8_t> f) { frame_from_far_end(ch, f); });
      } else {
        drain(key, events[i].events);
      }
    }
  }
}

void SimBoard::drain(uint64_t key, uint32_t events) {
  for (int frames = 0; frames < 256; ++frames) {
    auto it = handles_.find(key);
    if (it == handles_.end()) return;
    Handle& h = *it->second;
    ssize_t n = ::recv(h.sim_fd, buffer_.data(), buffer_.size(), MSG_DONTWAIT);
    if (n > 0) {
      frame_from_daemon(h, buffer_.data(), static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    // The daemon closed its end with frames of ours unread: the socket reports that once, ahead
    // of the frames the daemon wrote before closing, which a driver still sends.
    if (n < 0 && errno == ECONNRESET) continue;
    // 0 is an empty message unless the daemon's side is gone.
    if (n == 0 && !(events & (EPOLLHUP | EPOLLRDHUP))) continue;
    release(key);
    return;
  }
}

void SimBoard::frame_from_daemon(Handle& h, const uint8_t* data, size_t size) {
  if (h.device == Device::rtp_ext) return rtp_ext_.packet_from_daemon(h.key, data, size);
  auto it = channels_.find(h.channel);
  if (h.channel < 0 || it == channels_.end()) return;  // no channel allocated: the driver drops it
  HdlcChannel& c = it->second;
  Bytes frame(data, data + size);
  if (c.sent.size() >= kFrameLimit) c.sent.pop_front();
  c.sent.push_back(frame);
  ++c.sent_count;
  int from = h.channel;
  far_end_->send(from, frame);
  for (int channel : state_.mux.route(from)) {
    hdlc_frame(channel, frame);
    far_end_->send(channel, frame);
  }
  if (on_frame_sent) on_frame_sent(from, frame);
}

// A far end of a controller channel talks to that channel; one of a timeslot is a signal
// arriving at that switch input.
void SimBoard::frame_from_far_end(int channel, std::span<const uint8_t> frame) {
  if (channels_.count(channel)) {
    hdlc_frame(channel, frame);
    return;
  }
  for (int reached : state_.mux.route(channel)) hdlc_frame(reached, frame);
}

int SimBoard::tie_far_end(int channel, const std::string& path) {
  if (!SimSwitch::valid(channel)) return EINVAL;
  return far_end_->tie(channel, path);
}

bool SimBoard::untie_far_end(int channel) { return far_end_->untie(channel); }

void SimBoard::drop(Handle& h) {
  if (h.fd >= 0 && static_cast<size_t>(h.fd) < by_fd_.size() && by_fd_[static_cast<size_t>(h.fd)].handle == &h)
    by_fd_[static_cast<size_t>(h.fd)] = FdEntry{};
  if (h.device == Device::rtp_ext) rtp_ext_.release(h.key);
  if (h.device == Device::mctl) modem_.release(h.key);
  if (h.device == Device::dspdata) dspdata_.release(h.channel);
  ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, h.sim_fd, nullptr);
  ::close(h.sim_fd);
  if (h.device == Device::rtp) state_.rtp.release(h.key);
  if (auto it = channels_.find(h.channel); h.channel >= 0 && it != channels_.end()) it->second.open = false;
}

void SimBoard::release(uint64_t key) {
  auto it = handles_.find(key);
  if (it == handles_.end()) return;
  drop(*it->second);
  handles_.erase(it);
}

void SimBoard::hangup(Device device) {
  for (auto it = handles_.begin(); it != handles_.end();) {
    if (it->second->device != device) {
      ++it;
      continue;
    }
    it = hang_up(it);
  }
}

std::unordered_map<uint64_t, std::unique_ptr<SimBoard::Handle>>::iterator SimBoard::hang_up(
    std::unordered_map<uint64_t, std::unique_ptr<Handle>>::iterator it) {
  const int fd = it->second->fd;
  const bool tabled = fd >= 0 && static_cast<size_t>(fd) < by_fd_.size() &&
                      by_fd_[static_cast<size_t>(fd)].handle == it->second.get();
  drop(*it->second);
  if (tabled) by_fd_[static_cast<size_t>(fd)].hung_up = true;
  hung_up_.insert(it->first);
  return handles_.erase(it);
}

bool SimBoard::hangup_channel(int channel) {
  service();
  Handle* h = owner_of(channel);
  if (!h) return false;
  hang_up(handles_.find(h->key));
  return true;
}

bool SimBoard::stall(int channel, bool stalled) {
  Handle* h = owner_of(channel);
  if (!h) return false;
  epoll_event ev{};
  // Without EPOLLIN the board still hears the daemon close the channel.
  ev.events = stalled ? EPOLLRDHUP : EPOLLIN | EPOLLRDHUP;
  ev.data.u64 = h->key;
  return ::epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, h->sim_fd, &ev) == 0;
}

void SimBoard::fail_next(Device device, int error, unsigned count, uint32_t number, std::optional<int64_t> first) {
  fail_next_[static_cast<int>(device)] = {error, error ? count : 0, number, first};
}

unsigned SimBoard::fail_left(Device device) const { return fail_next_[static_cast<int>(device)].count; }

void SimBoard::refuse_channel(int channel, int error) {
  if (error)
    refused_channels_[channel] = error;
  else
    refused_channels_.erase(channel);
}

void SimBoard::fail_open(Device device, int error) { fail_open_[static_cast<int>(device)] = error; }

// ---------------------------------------------------------------- inspection

std::vector<Request> SimBoard::requests(Device device) const {
  std::vector<Request> all;
  for (const auto& [number, log] : requests_[static_cast<int>(device)])
    log.each([&](const Request& r) { all.push_back(r); });
  std::sort(all.begin(), all.end(), [](const Request& a, const Request& b) { return a.sequence < b.sequence; });
  return all;
}

std::vector<Request> SimBoard::requests(Device device, uint32_t number) const {
  const auto& logs = requests_[static_cast<int>(device)];
  auto it = logs.find(number);
  if (it == logs.end()) return {};
  std::vector<Request> out;
  it->second.each([&](const Request& r) { out.push_back(r); });
  return out;
}

void SimBoard::clear_requests() {
  for (auto& log : requests_) log.clear();
  request_totals_ = {};
}

int SimBoard::open_count(Device device) {
  service();
  int n = 0;
  for (const auto& [key, h] : handles_) n += h->device == device ? 1 : 0;
  return n;
}

const std::map<int, HdlcChannel>& SimBoard::hdlc_channels() {
  service();
  return channels_;
}

const HdlcChannel* SimBoard::hdlc_channel(int channel) {
  service();
  auto it = channels_.find(channel);
  return it == channels_.end() ? nullptr : &it->second;
}

std::vector<Bytes> SimBoard::frames_sent(int channel) {
  const HdlcChannel* c = hdlc_channel(channel);
  if (!c) return {};
  return {c->sent.begin(), c->sent.end()};
}

// ---------------------------------------------------------------- events

bool SimBoard::deliver(Handle& h, const void* data, size_t size) {
  ssize_t n = ::send(h.sim_fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
  return n == static_cast<ssize_t>(size);
}

unsigned SimBoard::broadcast(Device device, const void* data, size_t size) {
  unsigned taken = 0;
  for (auto& [key, h] : handles_) {
    if (h->device == device && deliver(*h, data, size)) ++taken;
  }
  return taken;
}

unsigned SimBoard::inject_raw(Device device, std::span<const uint8_t> record) {
  service();
  if (record.size() > kMaxFrame) return 0;
  return broadcast(device, record.data(), record.size());
}

unsigned SimBoard::dtmf_event(uint32_t timeslot, uint32_t code, uint32_t timestamp, std::optional<uint32_t> id) {
  service();
  dtmf::ToneEvent e;
  e.code = code;
  e.timeslot = timeslot;
  e.timestamp = timestamp;
  if (!id) {
    auto it = state_.tones.find(timeslot);
    id = it == state_.tones.end() ? 0 : it->second.detector_id;
  }
  e.id = *id;
  return broadcast(Device::dtmf, &e, sizeof e);
}

unsigned SimBoard::cas_change(uint32_t trunk, uint32_t timeslot, uint8_t rx) {
  service();
  if (trunk >= state_.cas.size() || timeslot >= 32) return 0;
  CasChannelState& c = state_.cas[trunk][timeslot];
  c.rx = rx & 0x0F;
  e1cas::CasChannel e;
  e.trunk = trunk;
  e.timeslot = timeslot;
  e.rx = c.rx;
  e.tx = c.tx;
  return broadcast(Device::e1cas, &e, sizeof e);
}

uint32_t SimBoard::feature_id(uint32_t timeslot, uint32_t feature) const {
  auto it = state_.dsp.find(timeslot);
  if (it == state_.dsp.end()) return 0;
  auto id = it->second.ids.find(feature);
  return id == it->second.ids.end() ? 0 : id->second;
}

unsigned SimBoard::dsp_event(uint32_t timeslot, uint32_t type, std::span<const uint8_t> payload,
                             std::optional<uint32_t> id) {
  service();
  dsp::ProcEvent e;
  e.timeslot = timeslot;
  e.type = type;
  if (!id) {
    uint32_t feature = type == dsp::kEventVad ? dsp::kVad : type == dsp::kEventSd ? dsp::kSd
                       : type == dsp::kEventBss ? dsp::kBss : 0;
    id = feature ? feature_id(timeslot, feature) : 0;
  }
  e.id = *id;
  std::memcpy(e.payload, payload.data(), std::min(payload.size(), sizeof e.payload));
  return broadcast(Device::dsp, &e, sizeof e);
}

unsigned SimBoard::dsp_vad(uint32_t timeslot, uint32_t dir_mask, int32_t rx, int32_t tx, std::optional<uint32_t> id) {
  dsp::VadEvent v;
  v.dir_mask = dir_mask;
  v.vad_rx = rx;
  v.vad_tx = tx;
  uint8_t p[12];
  std::memcpy(p, &v, sizeof p);
  return dsp_event(timeslot, dsp::kEventVad, p, id);
}

unsigned SimBoard::dsp_sd(uint32_t timeslot, int32_t sd_rx, std::optional<uint32_t> id) {
  dsp::SdEvent v;
  v.sd_rx = sd_rx;
  uint8_t p[12];
  std::memcpy(p, &v, sizeof p);
  return dsp_event(timeslot, dsp::kEventSd, p, id);
}

unsigned SimBoard::dsp_bss(uint32_t timeslot, float score, std::optional<uint32_t> id) {
  dsp::BssEvent v;
  v.score = score;
  uint8_t p[12];
  std::memcpy(p, &v, sizeof p);
  return dsp_event(timeslot, dsp::kEventBss, p, id);
}

unsigned SimBoard::dsp_flags(uint32_t timeslot, uint32_t flags, uint32_t mask, std::optional<uint32_t> id) {
  dsp::FlagsEvent v;
  v.flags = flags;
  v.mask = mask;
  uint8_t p[12];
  std::memcpy(p, &v, sizeof p);
  return dsp_event(timeslot, dsp::kEventFlags, p, id);
}

unsigned SimBoard::rtp_event(int channel, uint32_t type, uint32_t value, std::optional<uint32_t> timeout) {
  service();
  auto handle = state_.rtp.handle_of(channel);
  auto it = handle ? handles_.find(*handle) : handles_.end();
  if (it == handles_.end()) return 0;
  rtp::rtp_event e = state_.rtp.event(channel, type, value, timeout);
  return deliver(*it->second, &e, sizeof e) ? 1 : 0;
}

void SimBoard::set_trunk_status(uint32_t trunk, const TrunkState& status) {
  if (trunk < state_.trunks.size()) state_.trunks[trunk] = status;
}

unsigned SimBoard::rtp_ext_packet(uint32_t src_addr, uint32_t ssrc, std::span<const uint8_t> packet, int session) {
  service();
  if (packet.size() > kMaxFrame) return 0;
  unsigned reached = 0;
  for (auto& [key, h] : handles_) {
    if (h->device != Device::rtp_ext || (session && rtp_ext_.session(key).id != session)) continue;
    if (!rtp_ext_.accepts(key, src_addr)) {
      rtp_ext_.delivered(key, src_addr, ssrc, packet.size(), false);
      continue;
    }
    bool ok = deliver(*h, packet.data(), packet.size());
    rtp_ext_.delivered(key, src_addr, ssrc, packet.size(), ok);
    reached += ok ? 1 : 0;
  }
  return reached;
}

SimBoard::Handle* SimBoard::owner_of(int channel) {
  for (auto& [key, h] : handles_) {
    if (h->channel == channel) return h.get();
  }
  return nullptr;
}

bool SimBoard::hdlc_frame(int channel, std::span<const uint8_t> frame) {
  auto it = channels_.find(channel);
  Handle* h = owner_of(channel);
  if (it == channels_.end() || !h || frame.size() > kMaxFrame) return false;
  HdlcChannel& c = it->second;
  // A transparent channel carries a byte stream, not frames: the board hands it on in packets
  // of at most the channel's receive packet size, so a reader sized to that loses nothing.
  const size_t piece = c.type == mcc::kTypeTransparent && c.rx_packet_size > 0 ? c.rx_packet_size : frame.size();
  bool whole = true;
  size_t at = 0;
  do {
    const size_t n = std::min(piece, frame.size() - at);
    if (deliver(*h, frame.data() + at, n)) {
      ++c.received_count;
    } else {
      ++c.dropped_count;
      whole = false;
    }
    at += n;
  } while (at < frame.size());
  return whole;
}

unsigned SimBoard::tdm_frame(int input, std::span<const uint8_t> frame) {
  service();
  if (!SimSwitch::valid(input)) return 0;
  unsigned reached = 0;
  for (int channel : state_.mux.route(input)) reached += hdlc_frame(channel, frame) ? 1 : 0;
  return reached;
}

}  // namespace board::sim
