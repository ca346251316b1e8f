// The syslog identity of daemon mode.
#include <gtest/gtest.h>

#include <string>

#include "daemon/Daemon.h"

TEST(DaemonIdentity, KeepsAtMost79Characters) {
  EXPECT_EQ(Daemon::Identity("vxr-T240617-1510"), "vxr-T240617-1510");
  const std::string longer(100, 'n');
  EXPECT_EQ(Daemon::Identity(longer), std::string(79, 'n'));
  EXPECT_EQ(Daemon::Identity(std::string(79, 'a')).size(), 79u);
}
