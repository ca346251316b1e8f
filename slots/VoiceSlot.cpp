#include "slots/VoiceSlot.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <iostream>
#include <utility>

#include "asn1/schemas/LGCP.h"
#include "board/board.h"
#include "board/mcc.h"
#include "foundation/Escaped.h"
#include "foundation/Paths.h"
#include "foundation/Wrapping.h"
#include "slots/VoiceFactory.h"

namespace {

// Source readable, destination writable, and for players the destination's flush.
ASync::Copy::EventsParams events(uint32_t flush) {
  ASync::Copy::EventsParams e;
  e.read = POLLIN;
  e.write = POLLOUT;
  e.flush = flush;
  return e;
}

}  // namespace

std::string dhost2str(TERM::HostAddress const& host) {
  return static_cast<std::string const&>(host.get_iaddr()) + ":" + std::to_string(host.get_port().getValue());
}

// ---------------------------------------------------------------- VoiceSlot

VoiceSlot::VoiceSlot() { deferred_.Bind(this, &VoiceSlot::RunDeferred); }

void VoiceSlot::PutHeader(std::ostream& os) const { os << GetName() << "[" << Timeslot() << "]: "; }

void VoiceSlot::Defer(std::function<void()> what) {
  pending_.push_back(std::move(what));
  deferred_.Activate();
}

void VoiceSlot::DeferForAttempt(std::function<void()> what) {
  Defer([this, attempt = attempt_, what = std::move(what)] {
    if (attempt == attempt_) what();
  });
}

void VoiceSlot::RunDeferred() {
  deferred_.Deactivate();
  std::vector<std::function<void()>> now;
  now.swap(pending_);
  for (auto& what : now) what();
}

void VoiceSlot::WatchChannel(Fd const& channel) {
  if (!channel) return;
  // Only a hang-up or an error is asked for: the samples are the copies' business.
  watch_.Bind("VoiceSlot::OnChannelEvent", &VoiceSlot::OnChannelEvent, this);
  if (!watch_.Schedule(channel, 0)) {
    PutHeader(std::cerr);
    std::cerr << "fail to watch the channel: " << std::strerror(errno) << std::endl;
  }
}

void VoiceSlot::OnChannelEvent(int, short revents) {
  if (!(revents & (POLLHUP | POLLERR | POLLNVAL)) || channelLost) return;
  watch_.Release();
  PutHeader(std::cerr);
  std::cerr << "channel taken back by the board" << std::endl;
  ChannelTakenBack();
}

void VoiceSlot::GiveUpChannel(int timeslot, Fd& channel) {
  watch_.Release();
  if (channelLost)
    channel.close();
  else
    HandOverChannel(timeslot, channel);
}

// ---------------------------------------------------------------- players

PlaySlotGeneric::PlaySlotGeneric(int ch)
    : timeslot(board::ioctl_value(ch, board::mcc::MCC_TIMESLOT, 0)), channel(::fcntl(ch, F_DUPFD_CLOEXEC, 0)) {
  WatchChannel(channel);
}

// The kind's copy and connection are gone by now (their descriptors with them).
PlaySlotGeneric::~PlaySlotGeneric() { GiveUpChannel(timeslot, channel); }

bool PlaySlotGeneric::IBeforeDestroy() {
  if (VoiceFactory* f = VoiceFactory::instance()) f->OnDestroy(this);
  return true;
}

void PlaySlotGeneric::OutputAsked() {
  outputAsked_ = true;
  // Ahead of the kind's own start: a sink that refused its input tells no release.
  Defer([this] {
    if (std::exchange(outputAsked_, false) && sinks.empty()) NoPath();
  });
}

void PlaySlotGeneric::IOnOutputRelease() {
  // Only the connect that asked for the output, failing before it made a path; a player whose
  // last sink goes plays on, as it always has.
  if (std::exchange(outputAsked_, false)) NoPath();
}

void PlaySlotGeneric::NoPath() {
  PutHeader(std::clog);
  std::clog << "no path made, play stopped." << std::endl;
  Undo();
  OnChangeOutputStream(false);
}

void PlaySlotGeneric::ChannelTakenBack() {
  LoseChannel();
  if (Playing()) Release();
  channel.close();
}

PlaySlotNetwork::PlaySlotNetwork(int ch, LGCP::PlayerParams_network const& p)
    : PlaySlotGeneric(ch), address(dhost2str(p.get_host())), id(p.get_id().getValue()) {}

bool PlaySlotNetwork::IOnOutputStream() {
  if (state == fresh) {
    state = connecting;
    NextAttempt();
    OutputAsked();
    // From the next pass: a connect that fails now opens no stream on the server.
    DeferForAttempt([this] {
      if (state != connecting) return;
      connector = std::make_unique<ASync::Connect>();
      connector->Bind(&PlaySlotNetwork::OnConnect, this);
      connector->Start(address, kConnectTimeoutMs);
    });
  }
  OnChangeOutputStream(true);
  return held(timeslot) >= 0;
}

void PlaySlotNetwork::OnConnect(ASync::Connect::Status::Type status, Fd socket) {
  DeferForAttempt([this, status, socket] { Connected(status, socket); });
}

void PlaySlotNetwork::Undo() {
  NextAttempt();
  state = fresh;
  copy.reset();
  connector.reset();
}

void PlaySlotNetwork::Connected(ASync::Connect::Status::Type status, Fd socket) {
  if (state != connecting) return;
  if (status != ASync::Connect::Status::connected) {
    PutHeader(std::clog);
    std::clog << "connection to " << address << " fail." << std::endl;
    Release();
    return;
  }
  PutHeader(std::clog);
  std::clog << "connected to " << address << "." << std::endl;
  LGCP::IoctlResponse started;
  started.set_startPlaying();
  OnIoctlResponse(started);
  state = playing;
  connector.reset();
  // The stream id goes first, most significant byte first, whatever the host's byte order.
  const uint32_t v = static_cast<uint32_t>(id);
  const unsigned char word[4] = {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                                 static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
  ssize_t n;
  do n = ::send(socket.get(), word, sizeof word, MSG_NOSIGNAL);
  while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(sizeof word)) {
    std::cerr << "play failed" << std::endl;
    Release();
    return;
  }
  copy = std::make_unique<ASync::Copy>();
  copy->set_events(events(POLLWRNORM));
  copy->Bind(&PlaySlotNetwork::OnPlayComplete, this);
  copy->Start(socket, channel);
}

void PlaySlotNetwork::OnPlayComplete(ASync::Copy::Status::Type status) {
  Defer([this, status] { Played(status); });
}

void PlaySlotNetwork::Played(ASync::Copy::Status::Type status) {
  if (state != playing) return;
  if (status == ASync::Copy::Status::done) {
    PutHeader(std::clog);
    std::clog << "connection to " << address << " closed." << std::endl;
  } else {
    std::cerr << "play failed" << std::endl;
  }
  Release();
}

void PlaySlotNetwork::Release() {
  state = ended;
  OnChangeOutputStream(false);
  copy.reset();
  connector.reset();
  OnAbort(0);
}

PlaySlotFile::PlaySlotFile(int ch, LGCP::PlayerParams_file const& p) : PlaySlotGeneric(ch), repeat(p.get_repeat().getValue()) {
  for (const auto& name : p.get_name()) names.emplace_back(static_cast<std::string const&>(name));
  abortDpc.Bind(this, &PlaySlotFile::delayed_abort);
}

bool PlaySlotFile::IOnOutputStream() {
  if (!started) {
    current = 0;
    passPlayed = 0;
    if (!open_phrase()) {
      abortDpc.Activate();
      return false;
    }
    started = true;
    OutputAsked();
    // From the next pass: what a connect that fails now would write into a channel leading
    // nowhere could still be going out on its timeslot when the retry's path is made.
    NextAttempt();
    DeferForAttempt([this] {
      if (file && !copy) play();
    });
  }
  OnChangeOutputStream(true);
  return held(timeslot) >= 0;
}

void PlaySlotFile::Undo() {
  NextAttempt();
  copy.reset();
  file.close();
  started = false;
}

void PlaySlotFile::delayed_abort() {
  // Once: an active call would run again on every pass.
  abortDpc.Deactivate();
  OnAbort(0);
}

bool PlaySlotFile::SafeName(std::string const& name) {
  if (name.empty() || name.front() == '/' || name.find('\0') != std::string::npos) return false;
  size_t start = 0;
  while (start <= name.size()) {
    const size_t end = std::min(name.find('/', start), name.size());
    if (name.compare(start, end - start, "..") == 0) return false;
    start = end + 1;
  }
  return true;
}

bool PlaySlotFile::restart() {
  current = 0;
  passPlayed = 0;
  return next_phrase();
}

bool PlaySlotFile::next_phrase() {
  if (!open_phrase()) return false;
  play();
  return true;
}

bool PlaySlotFile::open_phrase() {
  while (current < names.size()) {
    const std::string& name = names[current++];
    if (!SafeName(name)) {
      PutHeader(std::cerr);
      std::cerr << "phrase name refused: " << ext::escaped(name) << std::endl;
      continue;
    }
    file.close();
    file.reset(::open(Paths::rooted(std::string(kFolder) + name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st{};
    // Only a regular file has an end to play up to.
    if (!file || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
      file.close();
      continue;
    }
    ::lseek(file.get(), 0, SEEK_SET);
    return true;
  }
  return false;
}

void PlaySlotFile::play() {
  copy = std::make_unique<ASync::Copy>();
  copy->set_bufsize(kBufferSize);
  copy->set_events(events(POLLWRNORM));
  copy->Bind(&PlaySlotFile::OnPlayComplete, this);
  copy->Start(file, channel);
}

void PlaySlotFile::OnPlayComplete(ASync::Copy::Status::Type status) {
  Defer([this, status] { Played(status); });
}

void PlaySlotFile::Played(ASync::Copy::Status::Type status) {
  if (!copy) return;  // released meanwhile
  if (status != ASync::Copy::Status::done) {
    Release();
    return;
  }
  passPlayed += copy->copied();
  if (next_phrase()) return;
  if (repeat != 0 && std::exchange(repeat, WrapSub(repeat, 1)) == 1) {
    Release();
    return;
  }
  if (passPlayed == 0) {
    // Every phrase that opened was empty: playing the list again would only spin the loop.
    PutHeader(std::cerr);
    std::cerr << "nothing to play in the phrase list, play aborted." << std::endl;
    Release();
    return;
  }
  if (!restart()) OnAbort(0);
}

void PlaySlotFile::Release() {
  OnChangeOutputStream(false);
  copy.reset();
  file.close();
  OnAbort(0);
}

// ---------------------------------------------------------------- recorder

RecordSlot::RecordSlot(std::string addr, int ts, int ch)
    : timeslot(ts), channel(::fcntl(ch, F_DUPFD_CLOEXEC, 0)), address(std::move(addr)) {
  WatchChannel(channel);
}

RecordSlot::~RecordSlot() {
  copy.reset();
  connector.reset();
  GiveUpChannel(timeslot, channel);
}

bool RecordSlot::IBeforeDestroy() {
  if (VoiceFactory* f = VoiceFactory::instance()) f->OnDestroy(this);
  return true;
}

bool RecordSlot::IOnInputStream() {
  // The new input's session holds nothing of the old one's.
  EndSession();
  StartSession();
  inputAsked_ = true;
  return true;
}

void RecordSlot::StartSession() {
  NextAttempt();
  active_ = true;
  // From the next pass: a connect that fails now opens no session on the server.
  DeferForAttempt([this] {
    connector = std::make_unique<ASync::Connect>();
    connector->Bind(&RecordSlot::OnConnect, this);
    connector->Start(address, kConnectTimeoutMs);
  });
}

void RecordSlot::IOnInputRelease() {
  if (std::exchange(inputAsked_, false)) EndSession();
}

void RecordSlot::IOnInputMade() {
  inputAsked_ = false;
  DropQueued();
}

bool RecordSlot::IHwConnectReceiver(Slot& src) {
  // The path from the old source is down already; a failed path leaves the old source's
  // session as it is (the old path is made again).
  const bool moved = source && source != &src;
  if (!Slot::IHwConnectReceiver(src)) return false;
  if (moved) {
    PutHeader(std::clog);
    std::clog << "input moved to " << src << "." << std::endl;
    EndSession();
    StartSession();
  }
  return true;
}

void RecordSlot::EndSession() {
  if (copy) {
    PutHeader(std::clog);
    std::clog << "input ended, recording stopped." << std::endl;
    StopRecording(LGCP::StopRecordingCause::userRequest);
  }
  NextAttempt();
  active_ = false;
  connector.reset();
}

void RecordSlot::DropQueued() {
  if (!channel || channelLost) return;
  // A channel queues far fewer frames than this; the bound only keeps one that never empties
  // from holding the loop.
  constexpr int kMaxReads = 4096;
  char drop[VoiceFactory::kPacketSize];
  for (int i = 0; i < kMaxReads; ++i) {
    const ssize_t n = ::read(channel.get(), drop, sizeof drop);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
  }
}

void RecordSlot::ChannelTakenBack() {
  // As when the channel's end reaches the copy; a session about to start ends too.
  if (active_) StopRecording(LGCP::StopRecordingCause::userRequest);
  LoseChannel();
  channel.close();
}

void RecordSlot::OnConnect(ASync::Connect::Status::Type status, Fd socket) {
  // Only the attempt still held reports: one given up since has nothing to say.
  DeferForAttempt([this, status, socket] { Connected(status, socket); });
}

void RecordSlot::Connected(ASync::Connect::Status::Type status, Fd socket) {
  if (status != ASync::Connect::Status::connected) {
    PutHeader(std::clog);
    std::clog << "connection to " << address << " fail." << std::endl;
    StopRecording(LGCP::StopRecordingCause::connectionFail);
    return;
  }
  PutHeader(std::clog);
  std::clog << "connected to " << address << "." << std::endl;
  connector.reset();
  copy = std::make_unique<ASync::Copy>();
  copy->set_events(events(0));
  copy->Bind(&RecordSlot::OnRecordComplete, this);
  copy->Start(channel, socket);
}

void RecordSlot::OnRecordComplete(ASync::Copy::Status::Type status) {
  ASync::Copy* running = copy.get();
  Defer([this, running, status] {
    if (running == copy.get()) Recorded(status);
  });
}

void RecordSlot::Recorded(ASync::Copy::Status::Type status) {
  if (status == ASync::Copy::Status::done) {
    PutHeader(std::clog);
    std::clog << "connection to " << address << " closed." << std::endl;
    StopRecording(LGCP::StopRecordingCause::userRequest);
  } else {
    std::cerr << "record aborted" << std::endl;
    StopRecording(LGCP::StopRecordingCause::connectionAborted);
  }
}

void RecordSlot::StopRecording(int cause) {
  NextAttempt();
  active_ = false;
  copy.reset();
  connector.reset();
  LGCP::IoctlResponse stopped;
  stopped.set_stopRecording(static_cast<LGCP::StopRecordingCause::NamedNumber>(cause));
  OnIoctlResponse(stopped);
}
