#pragma once
// Base of every slot factory: each factory links itself at the head of the one global list
// `firstFactory`, and the slot table asks the factories in list order to make a slot.
#include <vector>

namespace LGCP {
class CreateParams;
class Resources;
class Signal;
}  // namespace LGCP

class Slot;

class SlotFactory {
 public:
  SlotFactory();
  SlotFactory(const SlotFactory&) = delete;
  SlotFactory& operator=(const SlotFactory&) = delete;
  // Factories live as long as the process; a destroyed one leaves the list.
  virtual ~SlotFactory();

  virtual const char* GetName() const = 0;
  // A new slot for the parameters, or null when this factory does not make that kind or
  // making it failed (the next factory is asked then).
  virtual Slot* INewSlot(LGCP::CreateParams const& params) = 0;
  // Adds this factory's resources to the record.
  virtual void Query(LGCP::Resources& resources) = 0;
  // A signal that another service sends (the trunk status); nothing by default.
  virtual void SelfSignal(LGCP::Signal const& signal);

  // INewSlot, and a made slot is marked as this factory's and entered in `slots`.
  Slot* NewSlot(LGCP::CreateParams const& params);
  // Takes the slot out of `slots` (every occurrence).
  void Remove(Slot* slot);

  // The slots this factory made that are not yet released (not owned).
  std::vector<Slot*> slots;
  // The factory built before this one (the list runs from the newest to the oldest).
  SlotFactory* next = nullptr;
};

// Head of the factory list: the most recently built factory.
extern SlotFactory* firstFactory;

// A factory whose slot kind is not built yet: listed under its name, makes no slot and adds
// no resources.
class UnbuiltSlotFactory : public SlotFactory {
 public:
  explicit UnbuiltSlotFactory(const char* name) : name_(name) {}
  const char* GetName() const override { return name_; }
  Slot* INewSlot(LGCP::CreateParams const&) override { return nullptr; }
  void Query(LGCP::Resources&) override {}

 private:
  const char* name_;
};
