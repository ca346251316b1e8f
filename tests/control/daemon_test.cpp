// Daemon start-up: the syslog identity and the order in which "create" asks the slot factories.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "daemon/Daemon.h"
#include "daemon/SlotFactories.h"
#include "slots/MapFactory.h"
#include "slots/SlotFactory.h"
#include "slots/TrunkFactory.h"

TEST(DaemonIdentity, KeepsAtMost79Characters) {
  EXPECT_EQ(Daemon::Identity("vxr-T240617-1510"), "vxr-T240617-1510");
  const std::string longer(100, 'n');
  EXPECT_EQ(Daemon::Identity(longer), std::string(79, 'n'));
}

TEST(DaemonStartUp, FactoriesAskedFromHdlcToTrunkZero) {
  CreateSlotFactories();
  CreateSlotFactories();  // once only
  std::vector<std::string> names;
  for (SlotFactory* f = firstFactory; f; f = f->next) {
    names.emplace_back(f->GetName());
    if (auto* trunk = dynamic_cast<TrunkFactory*>(f)) names.back() += std::to_string(trunk->trunk);
  }
  const std::vector<std::string> expected = {
      "HdlcSlotFactory", "RTP Ext ED137", "RTP Ext LEMZ", "ISDN", "T.38 soft", "Voice/mcc",
      "Echo", "MCC", "Ext", "Mixer", "Modem", "RTP", "PSTN", "Map",
      "TrunksBRI7", "TrunksBRI6", "TrunksBRI5", "TrunksBRI4",
      "TrunksBRI3", "TrunksBRI2", "TrunksBRI1", "TrunksBRI0",
      "Trunks3", "Trunks2", "Trunks1", "Trunks0"};
  EXPECT_EQ(names, expected);
  {
    MapFactory extra;  // a factory built later is asked first, and leaves the list with its end
    EXPECT_EQ(firstFactory, &extra);
  }
  EXPECT_STREQ(firstFactory->GetName(), "HdlcSlotFactory");
}
