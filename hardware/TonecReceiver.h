#pragma once
// The per-timeslot client of the tone-control device: a media slot derives from it, names its
// timeslot and receives the detected tones. It also runs the DTMF dialling and ring-back
// sequences on its own timer.
#include <cstdint>
#include <memory>

#include "foundation/CyclicList.h"
#include "foundation/TimerEvent.h"

namespace LGCP {
class DTMFParams;
class IVAParams;
class TranslateDtmfParams;
}  // namespace LGCP
namespace TERM {
class SelcalCommand;
}

namespace Hardware {

class TonecReceiverService;

class TonecReceiver {
 public:
  // One detected event as the receiver gets it.
  struct Params {
    uint32_t code;
    uint32_t timestamp;
  };

  // Generator settings of the sequences.
  static constexpr unsigned short kDialAmplitude = 16384;  // a digit without amp1/amp2
  static constexpr unsigned kToneDuration = 70;            // ms, without toneDuration
  static constexpr unsigned kPauseDuration = 70;           // ms, without pauseDuration
  static constexpr unsigned short kRingFrequency = 425;
  static constexpr unsigned short kRingAmplitude = 2048;
  static constexpr unsigned kRingOn = 1000;   // ms
  static constexpr unsigned kRingOff = 3000;  // ms
  static constexpr unsigned kMaxStep = 3600000;  // ms, the longest tone or pause taken

  TonecReceiver();
  virtual ~TonecReceiver();
  TonecReceiver(const TonecReceiver&) = delete;
  TonecReceiver& operator=(const TonecReceiver&) = delete;

  virtual void tonec_event(const Params& event) = 0;
  virtual unsigned tonec_timeslot() const = 0;
  // A DTMF dialling sequence has ended.
  virtual void tone_gen_complete() {}

  bool configureDTMF(const LGCP::DTMFParams& params);
  bool echoCancel(bool on);
  bool enableToneGenerator(unsigned short f1, unsigned short f2, unsigned short a1, unsigned short a2);
  bool configureIVA(const LGCP::IVAParams& params);
  // The request's result; negative when refused or failed.
  int translateSelcal(const TERM::SelcalCommand& cmd);
  bool enableDTMF(bool on);
  bool disableDTMF() { return enableDTMF(false); }
  bool enableIVA(bool on);
  bool enableDTMFReject(bool on);
  // The generator on, but silent.
  bool enableSilence() { return enableToneGenerator(1000, 1000, 0, 0); }
  // Switches the generator off, ending a dialling or ring-back sequence. Unless forced, does
  // nothing (false) when no dialling runs.
  bool disableToneGenerator(bool force);
  // Dials the digits; during a dialling the new list replaces what is left of the old one.
  // False when the generator did not take the first step.
  bool translateDTMF(const LGCP::TranslateDtmfParams& params);
  // Starts the ring-back cadence (tone 1 s, silence 3 s, ...); false when the generator did not
  // take the tone.
  bool activateAudibleCall();
  // Stops the ring-back; does nothing while a dialling runs.
  void cancelAudibleCall();
  // The receiver lets its timeslot go (the owner calls it before destruction or when it loses
  // the timeslot): its sequences end and its wishes drop out. The device is brought to the newest
  // wish left of each setting; what no live receiver of the timeslot wants is switched off
  // (generator, DTMF and IVA detectors, DTMF rejection), and what the device cannot take now is
  // retried. The receiver takes no events afterwards.
  void CleanBeforeDestroy();

  // A DTMF dialling sequence runs.
  bool toneGeneratorRunning() const { return m_busy; }
  // What this receiver last asked for and was answered success for (its wish), whether or not
  // the device holds it now.
  bool dtmfEnabled() const;
  bool ivaEnabled() const;
  bool rejectEnabled() const;
  // The id of this receiver's last detector enable.
  uint32_t requestId() const { return m_requestId; }
  // Settings (TonecReceiverService::Setting bits) where this receiver's wish is the newest and
  // the device has not confirmed it (lost by a reset or a reopen, not taken back yet).
  unsigned unconfirmed() const;

  // The first live receiver of the timeslot, in creation order; null when none.
  static TonecReceiver* find(unsigned timeslot);

 private:
  friend class TonecReceiverService;

  struct Node : Containers::CyclicList {
    TonecReceiver* owner = nullptr;
  };
  // Every live receiver, in creation order.
  static Containers::CyclicList& all();
  static TonecReceiver* owner(Containers::CyclicList* n) { return static_cast<Node*>(n)->owner; }

  void OnDialTone();
  void OnDialPause();
  void OnRingTone();
  // The steps that take the generator, with its result.
  bool OnDialStep();
  bool OnRingStep();
  void OnRingSilence();

  Timer m_timer;
  bool m_busy = false;       // a DTMF dialling runs
  uint32_t m_requestId = 0;  // the id of this receiver's last detector enable; its events carry it
  std::unique_ptr<LGCP::TranslateDtmfParams> m_dial;  // what is left to dial
  Node m_node;               // linked while the receiver holds its timeslot
};

}  // namespace Hardware
