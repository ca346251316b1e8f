#include <gtest/gtest.h>

#include <cstdlib>

#include "foundation/Paths.h"

TEST(Paths, RootIsPrefixedAndTrailingSlashesDropped) {
  ::setenv("VOXRELAY_ROOT", "/tmp/vxroot//", 1);
  EXPECT_EQ(Paths::rooted("/var/run/server.pid"), "/tmp/vxroot/var/run/server.pid");
  ::unsetenv("VOXRELAY_ROOT");
  EXPECT_EQ(Paths::rooted("/var/run/server.pid"), "/var/run/server.pid");
}
