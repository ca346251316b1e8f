#pragma once
// Base of every slot factory: each factory links itself at the head of the one global list
// `firstFactory`, and the slot table asks the factories in list order.
namespace LGCP {
class Resources;
}

class SlotFactory {
 public:
  SlotFactory();
  SlotFactory(const SlotFactory&) = delete;
  SlotFactory& operator=(const SlotFactory&) = delete;
  virtual ~SlotFactory();

  // Fills this factory's part of the hardware resources.
  virtual void Query(LGCP::Resources&) {}

  // The factory built before this one (the list runs from the newest to the oldest).
  SlotFactory* next = nullptr;
};

// Head of the factory list: the most recently built factory.
extern SlotFactory* firstFactory;
