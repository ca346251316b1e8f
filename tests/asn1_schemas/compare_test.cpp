// Values of the schema classes compare through do_compare directly, as the slot and monitoring
// code does.
#include <gtest/gtest.h>

#include "asn1/schemas/LGCP.h"

TEST(SchemaCompare, DoCompareIsCallableOnTheSchemaClasses) {
  LGCP::Stream a, b;
  a.set_active(37);
  b.set_active(37);
  EXPECT_EQ(a.do_compare(b), 0);
  b.set_active(38);
  EXPECT_NE(a.do_compare(b), 0);
  LGCP::SharedChannel x, y;
  y.set_bus(1);
  EXPECT_NE(x.do_compare(y), 0);
}
