#pragma once
// The per-timeslot client of the DSP-processing device: a media slot derives from it, names
// its timeslot, switches VAD, SD, BSS, noise gate, mute, delays, gain and tone filters, and
// receives what the DSP detects.
#include <cstddef>
#include <cstdint>

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
  // The receiver lets its timeslot go (the owner calls it before destruction or when it loses
  // the timeslot): its wishes drop out. The device is brought to the newest wish left of each
  // setting; what no live receiver of the timeslot wants is switched off (VAD, BSS, NG, delays,
  // gain, tone filters; SD and mute stay), and what the device cannot take now is retried. The
  // receiver takes no events afterwards.
  void CleanBeforeDestroy();

  // What this receiver last asked for and was answered success for (its wish), whether or not
  // the device holds it now. A feature's state: -1 never set, 0 off, 1 on; and the id of its
  // last enable.
  struct Feature {
    int state;
    uint32_t id;
  };
  Feature vad() const;
  Feature bss() const;
  Feature ng() const;
  Feature sd() const;
  int muteFirst() const;
  int muteSecond() const;
  uint32_t muteId() const;
  bool delaysSet() const;
  bool rxGainSet() const;
  // Settings (DSProcReceiverService::Setting bits) where this receiver's wish is the newest and
  // the device has not confirmed it (lost by a reset or a reopen, not taken back yet).
  uint32_t unconfirmed() const;
  // The tone filters this receiver has on (one per frequency the device knows, 16 bits).
  size_t toneFilterRecords() const;

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

  Node m_node;  // linked while the receiver holds its timeslot
};

}  // namespace Hardware
