#pragma once
// The board's TDM switch ("/dev/hal"): connects a source channel to an output, drives an
// output with a constant byte, disables it or reads what it carries.
//
// It keeps a model of the switch (SwitchModel): per output what the daemon wants and what the
// switch last confirmed. Every request records the wish first; what the switch refuses, with
// whatever errno, or what is asked while the device is away, stays owed and is sent again by
// the reconciler here: after a refusal with a back-off of its own (kRetryMs doubling up to
// kRetryMaxMs, per output, so that another output's success does not hasten it), after a
// reopen all that is wanted. Each owed output is tried when its own back-off ends, whatever
// else the switch refuses, while the switch takes other requests; while it refuses as a whole
// (its last first try of a request was refused, nothing taken since) a walk of the owed list
// ends at its first refusal. Only a first try counts there: a request for an output the switch
// refused before says nothing of the others. A refusal never brings back an earlier wish. A
// refused connect is the exception: the caller is told, and the output keeps what was wanted
// before. A request for a channel the switch does not have (kChannels) is refused before it is
// sent, a takedown too: there is nothing there to take down, and it is not owed.
//
// An output still refused at the longest back-off while the switch takes other requests is
// taken as refused for good: the walk and the sweep pass it by, and all such outputs share one
// budget of retries (kRefusedPerStep a refresh step, in turn), so that however many there are
// they cost a bounded few requests a second and no other owed output waits behind them. A
// request the switch takes for it ends that.
//
// The background refresh re-disables the disabled bus outputs, a step of 128 outputs every
// kRefreshPeriodMs on the loop's timer: a full sweep about once a second, whatever the loop's
// traffic. An output the switch refused (what it owes, or its re-disable) it sends only when
// its back-off lets it, and a step that sent nothing reads the entry it visited, so that a
// reset under a board whose outputs are all driven is noticed within a step too.
//
// A descriptor that the driver gave up (the device was reset) is dropped and the device opened
// again at once; while it stays away requests fail at once and only the refresh timer tries
// it again, every kReopenMs. The log says when the device's health changes, not per retry.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "board/hal.h"
#include "foundation/TimerEvent.h"
#include "hardware/SwitchModel.h"

class HwMux {
 public:
  // The bus outputs: channel = kFirstOutput + bus * 128 + timeslot, 16 buses.
  static constexpr int kFirstOutput = board::hal::kFirstOutput;
  static constexpr int kOutputs = board::hal::kOutputs;
  static_assert(kFirstOutput == SwitchModel::kFirstOutput && kOutputs == SwitchModel::kOutputs);
  // Table entries (entry()) besides a source channel.
  static constexpr uint16_t kDisabled = 0xFFFF;
  static constexpr uint16_t kConstant = 0xFFFE;
  static constexpr int kRefreshPerPass = 128;
  // 16 steps of 128 a second: at most about 2,100 requests a second for the refresh.
  static constexpr unsigned kRefreshPeriodMs = 62;
  // A device that stays away is tried again this often.
  static constexpr unsigned kReopenMs = 1000;
  // Owed requests are tried again this long after a refusal, then at twice the last interval
  // up to kRetryMaxMs: soon when the switch was only busy, one request per interval while it
  // stays so.
  static constexpr unsigned kRetryMs = 10;
  static constexpr unsigned kRetryMaxMs = 500;
  // The retries that the outputs refused for good share: this many a refresh step, about 32 a
  // second in all.
  static constexpr unsigned kRefusedPerStep = 2;

  // The process-wide switch, constructed (and opened) at the first call.
  static HwMux* instance();

  HwMux();
  ~HwMux();
  HwMux(const HwMux&) = delete;
  HwMux& operator=(const HwMux&) = delete;

  // True when the device is open; otherwise tries to open it (and then sends all wanted).
  bool IsOpened();
  // Results as the switch answered now. A refused (or away) disconnect, disable or write stays
  // wanted and is carried out when the switch takes it.
  bool Connect(int source, int output);
  // Drives the channel with the idle byte 0xD5.
  bool Disconnect(int channel);
  bool Disable(int channel);
  bool Write(int channel, unsigned char byte);
  // The byte the channel carries; 255 on any failure.
  unsigned char Read(int channel);

  // Re-disables output kFirstOutput + index when it is wanted disabled; sends what else is
  // wanted of it when the switch has not confirmed that. True when it made a request.
  bool RefreshChannel(int index);
  // The refresh timer: one step, or an open of a device that is away when kReopenMs passed.
  void OnRefreshTimer();
  // One background step: the next kRefreshPerPass entries of the table.
  void RefreshStep();
  // The shared budget: the next outputs refused for good whose back-off ended, in turn, at most
  // kRefusedPerStep of them.
  void RetryRefused();
  // Records a wish for the output without a request now: the reconciler sends it soon.
  void Want(int channel, SwitchModel::State state);
  // Sends what is owed and due, in order (past refusals only while the switch takes other
  // requests); arms the retry for what is left. True when nothing is left.
  bool SendOwed();
  // True when the switch has the channel (a request for another is refused by the driver).
  static bool has(int channel) { return channel >= 0 && channel < board::hal::kChannels; }

  SwitchModel& model() { return model_; }
  // For inspection: the wanted state of a bus output as a table entry.
  uint16_t entry(int index) const;
  unsigned cursor() const { return cursor_; }
  int fd() const { return fd_; }
  // Owed requests waiting for the switch.
  std::size_t owed() { return model_.settle_owed(); }

 private:
  // The request on the open device. A descriptor the driver gave up is dropped and the
  // request made once more on a new one; -1 (errno set) on failure, ENODEV while away.
  int request(uint32_t number, void* arg);
  // Sends state for channel, by request() (direct) or on the descriptor only (reconciler).
  int send(int channel, SwitchModel::State state, bool direct);
  // The line a disconnect, disable or write that failed logs.
  using FailureLine = void (*)(int channel, unsigned char byte, int error);
  // Records a wish and sends it: true when the switch took it. A failure is logged with
  // `failed` (not while the device is away), then the start of refusals when it is owed now.
  bool wish(int channel, SwitchModel::State state, FailureLine failed);
  // Opens the device and sends everything wanted; an open failure is logged once per outage.
  bool open_device();
  // Closes a descriptor the driver gave up.
  void drop(int error);
  // A refusal leaves work owed: the retry is armed, its interval kept.
  void owe_retry();
  // A request got through: the next walk of the owed list is brought forward to kRetryMs (the
  // outputs' own back-offs still hold).
  void hasten_retry();
  // Arms the walk of the owed list: after the walk interval, not before the first owed wish is
  // due; none when nothing is owed.
  void arm_retry();
  void OnRetryTimer();
  // The switch refused the owed wish of o: it is tried again after its next interval.
  static void back_off(SwitchModel::Output& o, uint32_t now);
  // The switch refused a request for channel's output o: o backs off, and joins the outputs
  // refused for good when it was refused at the longest interval while the switch took others.
  void refused(int channel, SwitchModel::Output& o, uint32_t now);
  // The switch took a request for o: it starts over as any other output.
  static void took(SwitchModel::Output& o);
  // What a request tells of the switch as a whole: one taken says it takes requests; a first
  // try refused (not a request for an output it refused before, which it may refuse for good)
  // says it may refuse them all.
  void noted(bool taken, bool fresh);
  // The log line when owed requests start meeting refusals, and the one when none is owed.
  void refusals_start(int error);
  void owed_taken();
  // A read of the output, a request that notices a descriptor the driver gave up.
  void probe(int channel);

  SwitchModel model_;
  int fd_ = -1;
  unsigned cursor_ = 0;
  uint32_t last_open_ms_ = 0;  // loop clock of the last failed open
  bool away_logged_ = false;   // the device's absence was logged
  bool refusing_ = false;      // owed requests meet refusals (logged once)
  bool taking_ = true;         // the switch takes requests (see noted())
  unsigned retry_ms_ = kRetryMs;  // the walk interval: doubles while walks take nothing
  std::vector<int> refused_;      // the outputs refused for good, retried in turn
  std::size_t refusedTurn_ = 0;   // whose turn is next
  Timer refresh_;
  Timer retry_;
};
