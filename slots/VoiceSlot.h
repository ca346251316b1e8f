#pragma once
// Voice slots move raw samples between a transparent controller channel and a prompt file or a
// TCP stream: players write into the channel (whose timeslot feeds other slots), the recorder
// reads it and sends what it reads to a TCP server. The bytes are copied unchanged; only the
// network player first sends its 4-byte stream id.
//
// The ends of connection attempts and copies are acted on from the event loop's next pass,
// never inside the call that reported them: such an end can come from inside a create or a
// connect command, and acting on it may drop the very object that reported it. Plays and
// server connections start from the next pass too, so that a connect that fails after asking
// for the stream has written nothing and opened nothing.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "control/ASyncConnect.h"
#include "control/ASyncCopy.h"
#include "foundation/Dpc.h"
#include "foundation/Event.h"
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
  // As Defer, for the slot's current attempt (a connection, a play, a session): dropped when
  // NextAttempt gave it up before the pass, so that no result of it reaches a later one.
  void DeferForAttempt(std::function<void()> what);
  // Gives up the current attempt: what was deferred for it does not run.
  void NextAttempt() { ++attempt_; }
  virtual int Timeslot() const = 0;
  // Watches the controller channel for its hang-up: the board took it back and may give the
  // number to the next slot that asks.
  void WatchChannel(Fd const& channel);
  // The board took the channel back: the kind ends what runs on it and loses the channel.
  virtual void ChannelTakenBack() = 0;
  // At the slot's end: the channel goes to the route book until no route of it stands (a lost
  // one is closed at once), after the watch's own descriptor.
  void GiveUpChannel(int timeslot, Fd& channel);

 private:
  void RunDeferred();
  void OnChannelEvent(int fd, short revents);

  Dpc deferred_;
  std::vector<std::function<void()>> pending_;
  Event watch_;
  // Numbers the attempts: a result deferred from one given up since is not this one's.
  unsigned attempt_ = 0;
};

class PlaySlotGeneric : public VoiceSlot {
 public:
  // Keeps a duplicate of the allocated controller channel `channel`.
  explicit PlaySlotGeneric(int channel);
  ~PlaySlotGeneric() override;

  bool IBeforeDestroy() override;
  int IGetTransmitChannel() override { return held(timeslot); }
  const char* GetName() const override { return "player"; }
  // The output asked for by a connect that then failed: what it started stops, so that the
  // next connect starts the play afresh. A disconnect leaves the play going.
  void IOnOutputRelease() override;
  // The connect that asked for the output made its path: the play stands, whatever follows.
  void IOnOutputMade() override { outputAsked_ = false; }

  int timeslot;
  Fd channel;

 protected:
  int Timeslot() const override { return timeslot; }
  void ChannelTakenBack() override;
  // Called when the output stream is asked for: until the connect made its path, a release of
  // the output is the failure of the connect that asked, and so is a pass that ends without
  // the path made (a sink that refused its input releases nothing).
  void OutputAsked();
  // The connect that asked for the output made no path: the play goes back to its start.
  void NoPath();
  // Ends the play at once, without a signal, back to the state before it started.
  virtual void Undo() = 0;
  // Ends the play, as its end does: "transmitter" inactive and "abort".
  virtual void Release() = 0;
  // Something plays or is about to.
  virtual bool Playing() const = 0;

 private:
  bool outputAsked_ = false;
};

class PlaySlotNetwork : public PlaySlotGeneric {
 public:
  enum State { fresh = 0, connecting = 1, playing = 2, ended = 3 };

  PlaySlotNetwork(int channel, LGCP::PlayerParams_network const& params);

  // Connects once: the stream plays from the first connection of the output to its end.
  bool IOnOutputStream() override;

  void OnConnect(ASync::Connect::Status::Type status, Fd socket);
  void OnPlayComplete(ASync::Copy::Status::Type status);
  void Release() override;

  std::string address;
  int32_t id;
  State state = fresh;
  std::unique_ptr<ASync::Copy> copy;
  std::unique_ptr<ASync::Connect> connector;

 protected:
  void Undo() override;
  bool Playing() const override { return state == connecting || state == playing; }

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
  // Opens the next phrase that opens, into `file`; false at the end of the list.
  bool open_phrase();
  // Plays the open phrase.
  void play();
  void OnPlayComplete(ASync::Copy::Status::Type status);
  void Release() override;
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

 protected:
  void Undo() override;
  // A phrase is open from the start of the play to its end.
  bool Playing() const override { return file || copy; }

 private:
  void Played(ASync::Copy::Status::Type status);
};

class RecordSlot : public VoiceSlot {
 public:
  RecordSlot(std::string address, int timeslot, int channel);
  ~RecordSlot() override;

  void IAfterCreate() override { OnChangeInputStream(true); }
  bool IBeforeDestroy() override;
  // A new connection for every new input; a session still running ends first.
  bool IOnInputStream() override;
  // The connect that asked for the input failed: the session it was about to open is not
  // opened. A disconnect leaves the session recording until its copy or its connection ends.
  void IOnInputRelease() override;
  // The new input's path stands, so the old input's route is down: what the channel queued
  // before is the old input's and is dropped.
  void IOnInputMade() override;
  // A path from a source other than the one recorded: the new call gets a session of its own.
  bool IHwConnectReceiver(Slot& source) override;
  int IGetReceiveChannel() override { return held(timeslot); }
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
  void ChannelTakenBack() override;

 private:
  void Connected(ASync::Connect::Status::Type status, Fd socket);
  void Recorded(ASync::Copy::Status::Type status);
  // Ends the session: a running copy with "stopRecording", an attempt still connecting
  // without a word (no session began).
  void EndSession();
  // Reads the channel to its end and drops what it held.
  void DropQueued();
  // A session for the input from the next loop pass on.
  void StartSession();
  // An input's session is wanted: about to connect, connecting or recording.
  bool active_ = false;
  // The input was asked for by a connect that has not made its path yet.
  bool inputAsked_ = false;
};
