#pragma once
// Factories of trunk slots: one per E1 trunk (32 timeslots) and one per BRI line (4 channels).
// They are built first, so that they come last in the factory list.
#include <array>

#include "slots/SlotFactory.h"

namespace LGCP {
class TrunkParams;
}
class TrunkSlot;

class TrunkFactory : public SlotFactory {
 public:
  static constexpr unsigned kTrunks = 4;
  static constexpr unsigned kTimeslots = 32;

  TrunkFactory(unsigned trunk, unsigned base) : trunk(trunk), base(base) {}

  // Builds the four E1 and the eight BRI trunk factories, once, trunk0 first.
  static void BuildAll();

  const char* GetName() const override { return "Trunks"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources&) override {}
  // Forgets the slot's timeslot entry.
  virtual void ReleaseTrunkSlot(TrunkSlot* slot);

  // The slots by timeslot (not owned).
  std::array<TrunkSlot*, kTimeslots> entries{};
  unsigned trunk;  // the trunk (or BRI line) served
  unsigned base;   // the first TDM channel of the trunk

 protected:
  // A slot on `timeslot` (below `timeslots`) of this factory's trunk, replacing the slot that
  // held it; null for another trunk or a timeslot out of range.
  Slot* NewTrunkSlot(LGCP::TrunkParams const& params, unsigned timeslots);
  virtual TrunkSlot* MakeSlot(int channel);
};

class TrunkBRIFactory : public virtual TrunkFactory {
 public:
  static constexpr unsigned kLines = 8;
  static constexpr unsigned kChannels = 4;

  explicit TrunkBRIFactory(unsigned line) : TrunkFactory(line, kChannels * line) {}

  const char* GetName() const override { return "TrunksBRI"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;

 protected:
  TrunkSlot* MakeSlot(int channel) override;
};
