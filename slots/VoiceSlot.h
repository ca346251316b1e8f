#pragma once
// Voice slots move raw samples between a transparent controller channel and a prompt file or a
// TCP stream: players write into the channel (whose timeslot feeds other slots), the recorder
// reads it and sends what it reads to a TCP server. The bytes are copied unchanged; only the
// network player first sends its 4-byte stream id.
//
// The ends of connection attempts and copies are acted on from the event loop's next pass,
// never inside the call that reported them: such an end can come from inside a create or a
// connect command, and acting on it may drop the very object that reported it.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "control/ASyncConnect.h"
#include "control/ASyncCopy.h"
#include "foundation/Dpc.h"
#include "foundation/Fd.h"
#include "slots/Slot.h"

namespace LGCP {
class PlayerParams_file;
class PlayerParams_network;
}  // namespace LGCP
namespace TERM {
class HostAddress;
}

// "a.b.c.d:port", the address connections are made to and messages name.
std::string dhost2str(TERM::HostAddress const& host);

class VoiceSlot : public Slot {
 public:
  // How long a connection attempt may take.
  static constexpr unsigned kConnectTimeoutMs = 5000;

  VoiceSlot();
  // "<name>[<timeslot>]: ".
  void PutHeader(std::ostream& os) const;

 protected:
  // Runs `what` on the next pass of the event loop (in the order deferred).
  void Defer(std::function<void()> what);
  virtual int Timeslot() const = 0;

 private:
  void RunDeferred();

  Dpc deferred_;
  std::vector<std::function<void()>> pending_;
};

class PlaySlotGeneric : public VoiceSlot {
 public:
  // Keeps a duplicate of the allocated controller channel `channel`.
  explicit PlaySlotGeneric(int channel);
  ~PlaySlotGeneric() override;

  bool IBeforeDestroy() override;
  int IGetTransmitChannel() override { return timeslot; }
  const char* GetName() const override { return "player"; }

  int timeslot;
  Fd channel;

 protected:
  int Timeslot() const override { return timeslot; }
};

class PlaySlotNetwork : public PlaySlotGeneric {
 public:
  enum State { fresh = 0, connecting = 1, playing = 2, ended = 3 };

  PlaySlotNetwork(int channel, LGCP::PlayerParams_network const& params);

  // Connects once: the stream plays from the first connection of the output to its end.
  bool IOnOutputStream() override;

  void OnConnect(ASync::Connect::Status::Type status, Fd socket);
  void OnPlayComplete(ASync::Copy::Status::Type status);
  void Release();

  std::string address;
  int32_t id;
  State state = fresh;
  std::unique_ptr<ASync::Copy> copy;
  std::unique_ptr<ASync::Connect> connector;

 private:
  void Connected(ASync::Connect::Status::Type status, Fd socket);
  void Played(ASync::Copy::Status::Type status);
};

class PlaySlotFile : public PlaySlotGeneric {
 public:
  // The folder of the prompt files; a phrase name is a path below it.
  static constexpr const char* kFolder = "/usr/local/voice/";
  static constexpr unsigned kBufferSize = 8192;

  PlaySlotFile(int channel, LGCP::PlayerParams_file const& params);

  // Starts the list on the first connection of the output; false (and one "abort" on the next
  // pass) when no phrase can be played.
  bool IOnOutputStream() override;

  // From the first phrase again.
  bool restart();
  // Starts the next phrase that opens; false at the end of the list.
  bool next_phrase();
  void OnPlayComplete(ASync::Copy::Status::Type status);
  void Release();
  void delayed_abort();

  // Whether a phrase name stays inside the prompt folder: not empty, not absolute, no ".."
  // component and no NUL byte.
  static bool SafeName(std::string const& name);

  std::unique_ptr<ASync::Copy> copy;
  Fd file;
  int repeat;
  bool started = false;
  Dpc abortDpc;
  std::vector<std::string> names;
  size_t current = 0;
  // Octets played since the list was last started from its first phrase.
  uint64_t passPlayed = 0;

 private:
  void Played(ASync::Copy::Status::Type status);
};

class RecordSlot : public VoiceSlot {
 public:
  RecordSlot(std::string address, int timeslot, int channel);
  ~RecordSlot() override;

  void IAfterCreate() override { OnChangeInputStream(true); }
  bool IBeforeDestroy() override;
  // A new connection for every new input.
  bool IOnInputStream() override;
  int IGetReceiveChannel() override { return timeslot; }
  const char* GetName() const override { return "recorder"; }

  void OnConnect(ASync::Connect::Status::Type status, Fd socket);
  void OnRecordComplete(ASync::Copy::Status::Type status);
  // Ends the recording and tells the controller why.
  void StopRecording(int cause);

  int timeslot;
  Fd channel;
  std::string address;
  std::unique_ptr<ASync::Copy> copy;
  std::unique_ptr<ASync::Connect> connector;

 protected:
  int Timeslot() const override { return timeslot; }

 private:
  void Connected(ASync::Connect::Status::Type status, Fd socket);
  void Recorded(ASync::Copy::Status::Type status);
};
