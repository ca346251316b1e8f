// Text from outside on its way into a log line or a status file line.
#include <gtest/gtest.h>

#include <string>

#include "foundation/Escaped.h"

namespace {

using namespace std::string_literals;

TEST(Escaped, ControlBytesAndBackslashBecomeHexAndNothingElseChanges) {
  EXPECT_EQ(ext::escaped(""), "");
  EXPECT_EQ(ext::escaped("10.0.0.1:5000 ok"), "10.0.0.1:5000 ok");
  EXPECT_EQ(ext::escaped("a\nb\r\tc"), "a\\x0Ab\\x0D\\x09c");
  // A zero byte inside the text, the ends of the control range and DEL.
  EXPECT_EQ(ext::escaped("\0\x1F\x20\x7E\x7F"s), "\\x00\\x1F ~\\x7F");
  // A backslash is escaped too: a peer's literal "\x0A" never reads as an escaped line end.
  EXPECT_EQ(ext::escaped("\\x0A"), "\\x5Cx0A");
  // Bytes above 0x7F stay (UTF-8 texts remain readable).
  EXPECT_EQ(ext::escaped("\xD0\x90\xFF"), "\xD0\x90\xFF");
}

TEST(Escaped, TheResultHoldsNoLineEndWhateverTheInput) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string out = ext::escaped(all);
  EXPECT_EQ(out.find('\n'), std::string::npos);
  EXPECT_EQ(out.find('\r'), std::string::npos);
  EXPECT_EQ(out.find('\0'), std::string::npos);
  // 33 control bytes and the backslash take four bytes each.
  EXPECT_EQ(out.size(), 256u + 34u * 3u);
}

}  // namespace
