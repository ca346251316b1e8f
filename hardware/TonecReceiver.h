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
  // Switches off what this receiver switched on, its tone generator and sequences included; the
  // owner calls it before destruction or when it lets the timeslot go. A feature that another
  // live receiver of the timeslot has on stays on: that receiver's setting stands. What the
  // device cannot take now is owed to the timeslot and retried; the receiver holds nothing on
  // afterwards and takes no events.
  void CleanBeforeDestroy();

  // A DTMF dialling sequence runs.
  bool toneGeneratorRunning() const { return m_busy; }
  // Detector state as the service sees it.
  bool dtmfEnabled() const { return m_dtmfEnabled; }
  bool ivaEnabled() const { return m_ivaEnabled; }
  bool rejectEnabled() const { return m_rejectEnabled; }
  bool echoCancelOn() const { return m_echoCancel; }
  // The generator may hold a setting of this receiver other than off (a tone, silence, or a
  // setting whose request failed).
  bool generatorOn() const { return m_generatorOn; }
  uint32_t requestId() const { return m_requestId; }
  // Settings the device lost (a reset, a reopen) and has not taken back yet: the service puts
  // them back on its settle timer. Until then each counts as on, for events and for the
  // switch-off at destruction.
  unsigned unconfirmed() const { return m_unconfirmed; }

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

  // What the other live receivers of this one's timeslot have on.
  struct OnElsewhere {
    bool generator = false;
    bool detector = false;
    bool iva = false;
    bool reject = false;
  };
  OnElsewhere others_on() const;

  void OnDialTone();
  void OnDialPause();
  void OnRingTone();
  // The steps that take the generator, with its result.
  bool OnDialStep();
  bool OnRingStep();
  void OnRingSilence();

  // Detector events are taken while DTMF or IVA detection is on; each has its own flag, so
  // that switching one off does not silence the other.
  bool m_dtmfEnabled = false;
  bool m_ivaEnabled = false;
  Timer m_timer;
  bool m_busy = false;       // a DTMF dialling runs
  uint32_t m_requestId = 0;  // the id of the detector enable that this receiver holds
  std::unique_ptr<LGCP::TranslateDtmfParams> m_dial;  // what is left to dial
  Node m_node;
  bool m_rejectEnabled = false;
  bool m_echoCancel = false;
  // The generator's setting by this receiver (off after a failed request), put back when the
  // device is opened again.
  bool m_generatorOn = false;
  unsigned short m_generator[4] = {};  // f1, f2, a1, a2
  // The configuration records the device took last, put back (before the switches) when it
  // lost them.
  bool m_dtmfConfigured = false;
  uint32_t m_dtmfConfig[4] = {};  // twist, ratio, noise, silence
  bool m_ivaConfigured = false;
  int m_ivaLevel = 0;
  // Bits of the settings (TonecReceiverService::Setting) wanted and not confirmed since the
  // device lost them; whether their put-back was refused and logged.
  unsigned m_unconfirmed = 0;
  bool m_putBackLogged = false;
  // Switches (Setting bits) another receiver of the timeslot turned on since this one last set
  // them: the device holds that receiver's, which neither is put back nor counts as on for this
  // one, and this one's next request of them is made whatever its own flags say. Its flags
  // stay, so that an event already on its way with its id still reaches it.
  unsigned m_elsewhere = 0;
};

}  // namespace Hardware
