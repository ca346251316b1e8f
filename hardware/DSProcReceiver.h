#pragma once
// The per-timeslot client of the DSP-processing device: a media slot derives from it, names
// its timeslot, switches VAD, SD, BSS, noise gate, mute, delays, gain and tone filters, and
// receives what the DSP detects.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "board/BigEndian.h"
#include "foundation/CyclicList.h"

namespace LGCP {
class VADParams;
}

namespace Hardware {

// Voice activity per direction; -1 where the event does not report it.
struct DSProcVADEvent {
  int rx;
  int tx;
};

struct DSProcSDEvent {
  int sd;
};

// The driver's payloads, handed on as they arrived (12 bytes each, big-endian words).
struct dsproc_bss_event {
  board::be_f32 score;
  uint8_t reserved[8];
};
struct dsproc_tone_event {
  board::be_u32 frequency;
  board::be_u32 presence;
  uint8_t reserved[4];
};
struct dsproc_flags_event {
  board::be_u32 flags;
  board::be_u32 mask;
  uint8_t reserved[4];
};
static_assert(sizeof(dsproc_bss_event) == 12 && sizeof(dsproc_tone_event) == 12 && sizeof(dsproc_flags_event) == 12);
static_assert(offsetof(dsproc_tone_event, presence) == 4 && offsetof(dsproc_flags_event, mask) == 4);

class DSProcReceiverService;

class DSProcReceiver {
 public:
  DSProcReceiver();
  virtual ~DSProcReceiver();
  DSProcReceiver(const DSProcReceiver&) = delete;
  DSProcReceiver& operator=(const DSProcReceiver&) = delete;

  virtual void dsproc_vad_event(const DSProcVADEvent& event) = 0;
  virtual void dsproc_bss_event(const struct dsproc_bss_event* event) = 0;
  virtual void dsproc_sd_event(const DSProcSDEvent& event) = 0;
  virtual void dsproc_tone_flt_event(const struct dsproc_tone_event* event) = 0;
  virtual void dsproc_flags_event(const struct dsproc_flags_event* event) = 0;
  virtual unsigned dsproc_timeslot() const = 0;

  bool configureVAD(const LGCP::VADParams& params);
  bool enableVAD(bool on);
  bool disableVAD() { return enableVAD(false); }
  bool enableBSS(bool on);
  bool disableBSS() { return enableBSS(false); }
  bool enableNG(bool on);
  bool disableNG() { return enableNG(false); }
  bool configureSD();
  bool enableSD(bool on);
  bool disableSD() { return enableSD(false); }
  bool enableMute(bool first, bool second);
  bool disableMute() { return enableMute(false, false); }
  bool configureDelays(unsigned rx, unsigned tx, unsigned selcal);
  bool configureRxGain(char gain);
  bool configureToneFilter(unsigned freq, unsigned enable, int duration, int level);
  bool disableToneAll();
  // Switches off what this receiver switched on (SD and mute stay); the owner calls it before
  // destruction or when it lets the timeslot go. A feature, delay, gain or tone filter that
  // another live receiver of the timeslot has set stays: that receiver's setting stands. What
  // the device cannot take now is owed to the timeslot and retried; the receiver holds nothing
  // on afterwards and takes no events.
  void CleanBeforeDestroy();

  // A feature's state: -1 never set, 0 off, 1 on; and the id of its last enable.
  struct Feature {
    int state;
    uint32_t id;
  };
  const Feature& vad() const { return m_vad; }
  const Feature& bss() const { return m_bss; }
  const Feature& ng() const { return m_ng; }
  const Feature& sd() const { return m_sd; }
  int muteFirst() const { return m_muteFirst; }
  int muteSecond() const { return m_muteSecond; }
  uint32_t muteId() const { return m_muteId; }
  bool delaysSet() const { return m_delaysSet; }
  bool rxGainSet() const { return m_rxGainSet; }
  // Settings the device lost (a reset, a reopen) and has not taken back yet: the service puts
  // them back on its settle timer. Until then each counts as on, for events and for the
  // switch-off at destruction.
  uint32_t unconfirmed() const { return m_unconfirmed; }
  // The tone filters this receiver switched on and nobody switched off since, kept to be put
  // back: one per frequency the device knows (16 bits), however many.
  size_t toneFilterRecords() const { return m_toneFilterRecords.size(); }

  // The first live receiver of the timeslot, in creation order; null when none.
  static DSProcReceiver* find(unsigned timeslot);

 private:
  friend class DSProcReceiverService;

  struct Node : Containers::CyclicList {
    DSProcReceiver* owner = nullptr;
  };
  // Every live receiver, in creation order.
  static Containers::CyclicList& all();
  static DSProcReceiver* owner(Containers::CyclicList* n) { return static_cast<Node*>(n)->owner; }

  // What the other live receivers of this one's timeslot have set.
  struct OnElsewhere {
    bool vad = false;
    bool bss = false;
    bool ng = false;
    bool delays = false;
    bool rxGain = false;
    bool toneFilters = false;
  };
  OnElsewhere others_on() const;

  Feature m_vad{-1, 0};
  Feature m_bss{0, 0};
  Feature m_ng{0, 0};
  Feature m_sd{-1, 0};
  int m_muteFirst = -1;
  int m_muteSecond = -1;
  uint32_t m_muteId = 0;
  bool m_delaysSet = false;
  bool m_rxGainSet = false;
  Node m_node;
  // The values behind the two flags above, put back when the device is opened again.
  unsigned m_delays[3] = {};  // rx, tx, selcal
  char m_rxGain = 0;
  bool m_toneFilters = false;  // a tone filter switched on and not all switched off since
  // The configuration records the device took last, put back (before the switches) when it
  // lost them.
  bool m_vadConfigured = false;
  uint8_t m_vadConfig[12] = {};
  bool m_sdConfigured = false;
  struct ToneFilter {
    uint16_t frequency;
    uint16_t duration_msec;
    int8_t level_db;
  };
  std::vector<ToneFilter> m_toneFilterRecords;  // by frequency
  // Bits of the settings (DSProcReceiverService::Setting) wanted and not confirmed since the
  // device lost them; whether their put-back was refused and logged.
  uint32_t m_unconfirmed = 0;
  bool m_putBackLogged = false;
  // Switches (Setting bits) another receiver of the timeslot turned on since this one last set
  // them: the device holds that receiver's, which neither is put back nor counts as on for this
  // one, and this one's next request of them is made whatever its own states say. Its states
  // stay, so that an event already on its way with its id still reaches it.
  uint32_t m_elsewhere = 0;
};

}  // namespace Hardware
