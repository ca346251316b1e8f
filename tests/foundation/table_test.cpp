#include "foundation/Table.h"

#include <gtest/gtest.h>

#include <sstream>

#include "foundation/Hex.h"
#include "foundation/Measure.h"

namespace {

TEST(TableTest, CellsAreCentredCutAndRowsClosedAfterTheLastColumn) {
  std::ostringstream os;
  ext::Table t(4, 3);
  t.delimeter(os);
  t.row(os, "ab");
  t.row(os, "x");
  t.row(os, "dropped");  // past the last column
  t.resetrow();
  t.row(os, "abcdef");  // cut to 4
  t.row(os, "");
  t.gap(os);
  EXPECT_EQ(os.str(),
            "+----+---+\n"
            "| ab | x |\n"
            "|abcd|   |\n"
            "|    |   |\n");
}

TEST(TableTest, OddFillerGoesRightAndShortRowsAreCompleted) {
  std::ostringstream os;
  {
    ext::Table t(5, 6, 2);
    ext::Table::Sentry s(os, t);
    s << ext::beginrow << "" << ext::nextrow << "ab" << ext::nextrow << "abc" << ext::nextrow;
    s << ext::beginrow << 7 << "/" << 8u << ext::nextrow << ext::delimeter;
    s << ext::beginrow << std::string("z") << ext::nextrow;
  }  // the Sentry completes the open row
  EXPECT_EQ(os.str(),
            "|     |  ab  |ab|\n"
            "| 7/8 |      |  |\n"
            "+-----+------+--+\n"
            "|  z  |      |  |\n");
}

TEST(TableTest, MeasureCellAndNoColumnsWriteNoBorder) {
  std::ostringstream os;
  Measure m;
  {
    ext::Table t(40);
    ext::Table::Sentry s(os, t);
    s << ext::beginrow << m << ext::nextrow;
  }
  EXPECT_EQ(os.str(), "|      min=0 max=0 avg=0 counter=0       |\n");
  std::ostringstream none;
  ext::Table empty;
  empty.delimeter(none);
  EXPECT_EQ(none.str(), "");
  empty.gap(none);
  EXPECT_EQ(none.str(), "|\n");
}

TEST(HexTest, BytesAndNumbersInUpperCaseHexWithTheStreamRestored) {
  std::ostringstream os;
  const unsigned char bytes[] = {1, 171, 10, 255};
  os << ext::OutBufInHex(bytes, bytes) << "|" << ext::OutBufInHex(bytes, sizeof bytes) << "|"
     << ext::OutUnsignedInHex(26) << " " << ext::OutUnsignedInHex(26, 4) << " "
     << ext::OutUnsignedInHex(0xDEADBEEF, 2);
  os.width(3);
  os << 42;
  EXPECT_EQ(os.str(), "|01 AB 0A FF |0x1A 0x001A 0xDEADBEEF 42");
}

struct Named {
  int id;
  void PutHeader(std::ostream& os) const { os << "obj [" << id << "]: "; }
};

TEST(HexTest, HeaderAndQuoted) {
  std::ostringstream os;
  Named n{3};
  os << ext::header(&n) << "open " << ext::quoted("/dev/x") << " "
     << ext::quoted(std::string("a\"b"));
  EXPECT_EQ(os.str(), "obj [3]: open \"/dev/x\" \"a\"b\"");
}

}  // namespace
