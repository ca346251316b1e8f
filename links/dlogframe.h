#pragma once
// The D-channel frame printer: one LAPD frame (and the Q.931 message it carries) as trace
// text. Plain functions over byte arrays and constant tables; no state, no allocation, and
// whatever the octets are, text comes out, never longer than its buffer.
#include <cstddef>

namespace ISDN {

constexpr size_t kLogbufSize = 1024;
// The one text buffer the links print their frame traces into.
extern char logbuf[kLogbufSize];

// Prints the frame of `length` octets into `out`, which holds kLogbufSize bytes (the links
// pass logbuf). A long frame's text is cut at the buffer's end and ends in "...\n".
void dlogframe(unsigned char const* frame, int length, int networkToUser, char* out);

// An element as the printers see it: its identifier octet, and how many content octets the
// frame really holds (never more than its length octet says).
struct Element {
  unsigned char const* id;
  unsigned available;
  unsigned char octet(unsigned q931) const { return id[q931 - 1]; }  // octet 1 = identifier
  bool has(unsigned q931) const { return q931 >= 3 ? q931 - 3 < available : true; }
};

// Output bounded by its end: writes stop there (the last byte is kept for a NUL).
struct Text {
  char* begin;
  char* pos;
  char* end;
  bool cut = false;
  Text(char* b, size_t size) : begin(b), pos(b), end(b + size) {}
  void put(char c);
  void put(char const* s);
  void printf(char const* format, ...) __attribute__((format(printf, 2, 3)));
  void bits(unsigned char octet, int firstBit, int count);
  int written() const { return static_cast<int>(pos - begin); }
};

using ElementPrinter = void (*)(Text&, Element const&);

struct MessageType {
  unsigned char type;
  char const* name;
};
struct ElementRow {
  unsigned char id;
  char const* name;
  ElementPrinter printer;
};
struct CauseRow {
  unsigned char value;
  char const* text;
  char const* text2;  // a second language; read by nothing here
};
struct TagRow {
  unsigned char tag;
  char const* name;
};

extern MessageType const mtlist[32];
extern ElementRow const ielist[33];
extern CauseRow const cvlist[67];
// National variants: built beside ielist, selected by nothing in this system.
extern ElementRow const ielist_ni1[21];
extern ElementRow const ielist_ni1_cs5[2];
extern ElementRow const ielist_ni1_cs6[1];
extern ElementRow const we_0[10];
extern ElementRow const we_6[7];
extern CauseRow const cause_1tr6[26];
extern int const cause_1tr6_len;
extern TagRow const dtaglist[22];

// The element printers: `element` points at the identifier octet, the length is octet 2 and
// is trusted here (the frame printer clips it to the frame). Each writes at most
// kMaxElementText characters (no NUL) and returns how many it wrote.
constexpr size_t kMaxElementText = 8192;
int general(char* out, unsigned char const* element);
int prbearer(char* out, unsigned char const* element);
int prcause(char* out, unsigned char const* element);
int prchident(char* out, unsigned char const* element);
int prcalled(char* out, unsigned char const* element);
int prcalling(char* out, unsigned char const* element);
int display(char* out, unsigned char const* element);
int prfacility(char* out, unsigned char const* element);
int prcause_1tr6(char* out, unsigned char const* element);
int prbearer_ni1(char* out, unsigned char const* element);
int general_ni1(char* out, unsigned char const* element);
int prcharge(char* out, unsigned char const* element);
int prtext(char* out, unsigned char const* element);
int prfeatureind(char* out, unsigned char const* element);
int disptext_ni1(char* out, unsigned char const* element);

// `count` characters '1'/'0' for the bits from `firstBit` (8 = most significant) down; no NUL.
int printbits(char* out, unsigned char const* octet, int firstBit, int count);
// Just after the first octet from p on whose bit 8 is set.
unsigned char const* skipext(unsigned char const* p);
// " %02X" per octet and a NUL; returns 3 * count + 1 (1 for no octets).
int QuickHex(char* out, unsigned char const* data, int count);

}  // namespace ISDN
