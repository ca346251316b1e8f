// The frame printer: golden texts for LAPD frames and Q.931 messages (frames whose lengths
// point past the element or the frame among them) and for the element printers' edge cases.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "links/dlogframe.h"
#include "tests/asn1_text/Golden.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::string print(const Bytes& frame, int networkToUser = 1) {
  ISDN::dlogframe(frame.data(), static_cast<int>(frame.size()), networkToUser, ISDN::logbuf);
  return ISDN::logbuf;
}

// Each block of the golden file whose name does not start with "element " is a frame: its
// first line, the printer's hex dump, gives the frame's octets.
TEST(DlogFrame, GoldenFrames) {
  std::vector<std::pair<std::string, std::string>> texts;
  for (auto& [name, text] : golden::read("dlogframe.txt")) {
    if (name.rfind("element ", 0) == 0) continue;
    Bytes frame;
    std::istringstream hex(text.substr(0, text.find('\n')));
    for (unsigned x; hex >> std::hex >> x;) frame.push_back(static_cast<unsigned char>(x));
    texts.emplace_back(name, print(frame));
  }
  ASSERT_GE(texts.size(), 16u);
  // The element printers that no frame of the default code set reaches.
  using Printer = int (*)(char*, unsigned char const*);
  const std::vector<std::tuple<std::string, Printer, Bytes>> elements = {
      {"cause", ISDN::prcause, {0x08, 0x02, 0x80, 0x90}},
      {"general", ISDN::general, {0x1E, 0x02, 0x82, 0x88}},
      {"general extended", ISDN::general, {0x1E, 0x03, 0x02, 0x08, 0x88}},
      {"1tr6 cause empty", ISDN::prcause_1tr6, {0x08, 0x00}},
      {"1tr6 cause", ISDN::prcause_1tr6, {0x08, 0x01, 0x90}},
      {"feature indication", ISDN::prfeatureind, {0x39, 0x03, 0x81, 0x05, 0x01}},
      {"feature indication short", ISDN::prfeatureind, {0x39, 0x02, 0x41, 0x01}},
      {"display unknown type", ISDN::disptext_ni1, {0x2A, 0x01, 0x81}},
      {"display unknown tag", ISDN::disptext_ni1, {0x2A, 0x05, 0x80, 0x99, 0x02, 'h', 'i'}},
      {"display name", ISDN::disptext_ni1, {0x2A, 0x09, 0x80, 0x80, 0x01, 'x', 0x8D, 0x03, 'B', 'o', 'b'}},
      {"bearer ni1", ISDN::prbearer_ni1, {0x04, 0x04, 0x88, 0x90, 0x21, 0x8F}},
      {"charge", ISDN::prcharge, {0x02, 0x03, 0x01, '1', '2'}},
      {"empty text", ISDN::prtext, {0x2C, 0x00}},
      {"empty display", ISDN::display, {0x28, 0x00}},
  };
  for (auto& [name, printer, e] : elements) {
    char out[ISDN::kMaxElementText + 1];
    texts.emplace_back("element " + name, std::string(out, size_t(printer(out, e.data()))));
  }
  golden::check("dlogframe.txt", texts);
}

TEST(DlogFrame, HelpersAndTheBufferBound) {
  std::strcpy(ISDN::logbuf, "untouched");
  ISDN::dlogframe(Bytes{0x00, 0x01}.data(), 2, 0, ISDN::logbuf);
  EXPECT_STREQ(ISDN::logbuf, "untouched") << "a frame too short to print";
  char out[8];
  unsigned char hex[] = {0x0A, 0xFF};
  EXPECT_EQ(ISDN::QuickHex(out, hex, 2), 7);
  EXPECT_STREQ(out, " 0A FF");
  unsigned char o = 0xA5;
  EXPECT_EQ(ISDN::printbits(out, &o, 6, 3), 3);
  EXPECT_EQ(std::string(out, 3), "100");
  EXPECT_EQ(ISDN::printbits(out, &o, 8, 0), 0);
  unsigned char ext[] = {0x01, 0x02, 0x83, 0x04};
  EXPECT_EQ(ISDN::skipext(ext), ext + 3);
  // A long frame is cut with "..." and the text never runs past the buffer (a frame cut in
  // its octet list is among the golden frames).
  Bytes big{0x00, 0x01, 0x00, 0x00, 0x08, 0x01, 0x01, 0x05};
  for (int i = 0; i < 100; ++i) big.insert(big.end(), {0x1E, 0x02, 0x02, 0x88});
  char buf[ISDN::kLogbufSize + 16];
  std::memset(buf, 'Z', sizeof buf);
  ISDN::dlogframe(big.data(), static_cast<int>(big.size()), 0, buf);
  size_t n = std::strlen(buf);
  EXPECT_EQ(n, ISDN::kLogbufSize - 1);
  EXPECT_EQ(std::string(buf + n - 4), "...\n");
  EXPECT_EQ(buf[ISDN::kLogbufSize], 'Z');
}

}  // namespace
