#include "links/dlogframe.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace ISDN {

char logbuf[kLogbufSize];

// ---------------------------------------------------------------- bounded text

void Text::put(char c) {
  if (end - pos > 1) *pos++ = c;
  else cut = true;
}

void Text::put(char const* s) {
  while (*s) put(*s++);
}

void Text::printf(char const* format, ...) {
  size_t room = static_cast<size_t>(end - pos);
  if (room <= 1) {
    cut = true;
    return;
  }
  va_list ap;
  va_start(ap, format);
  int n = std::vsnprintf(pos, room, format, ap);
  va_end(ap);
  if (n < 0) return;
  if (static_cast<size_t>(n) >= room) {
    pos += room - 1;
    cut = true;
  } else {
    pos += n;
  }
}

void Text::bits(unsigned char octet, int firstBit, int count) {
  for (int b = firstBit; b > firstBit - count && b >= 1; --b) put(((octet >> (b - 1)) & 1) ? '1' : '0');
}

namespace {

// ---------------------------------------------------------------- bounded element printers
// Each reads only the octets its element holds in the frame; a group cut short ends the text.

void octet_line(Text& t, char const* label, unsigned char o) {
  t.put(label);
  t.bits(o, 8, 8);
  t.put('\n');
}

void chars(Text& t, Element const& e, unsigned from) {
  for (unsigned q = from; e.has(q); ++q) t.put(static_cast<char>(e.octet(q)));
}

void general_text(Text& t, Element const& e) {
  int number = 3;
  char letter = ' ';
  for (unsigned q = 3; e.has(q); ++q) {
    unsigned char o = e.octet(q);
    t.printf("    octet %d%c ", number, letter);
    t.bits(o, 8, 8);
    t.put('\n');
    if (o & 0x80) {
      ++number;
      letter = ' ';
    } else {
      letter = letter == ' ' ? 'a' : static_cast<char>(letter + 1);
    }
  }
}

void prbearer_text(Text& t, Element const& e) {
  if (!e.has(3)) return;
  octet_line(t, "    octet 3  ", e.octet(3));
  if (!e.has(4)) return;
  octet_line(t, "    octet 4  ", e.octet(4));
  unsigned q = 5;
  if ((e.octet(4) & 0x1F) == 24 && e.has(q)) octet_line(t, "    octet 4.1 ", e.octet(q++));
  auto layer = [&](unsigned q) { return (e.octet(q) >> 5) & 3; };
  if (e.has(q) && layer(q) == 1) {
    char letter = ' ';
    while (e.has(q)) {
      unsigned char o = e.octet(q++);
      t.printf("    octet 5%c ", letter);
      t.bits(o, 8, 8);
      t.put('\n');
      if (o & 0x80) break;
      letter = letter == ' ' ? 'a' : static_cast<char>(letter + 1);
    }
  }
  if (e.has(q) && layer(q) == 2) octet_line(t, "    octet 6  ", e.octet(q++));
  if (e.has(q) && layer(q) == 3) octet_line(t, "    octet 7  ", e.octet(q));
}

template <size_t N>
char const* cause_text(CauseRow const (&rows)[N], size_t count, unsigned char value) {
  for (size_t i = 0; i < count && i < N; ++i) {
    if (rows[i].value == value) return rows[i].text;
  }
  return nullptr;
}

void cause_value(Text& t, char const* text, unsigned char value) {
  if (text) t.printf("  cause value %x : %s \n", value, text);
  else t.printf("Unknown cause type %x!\n", value);
}

void prcause_text(Text& t, Element const& e) {
  if (!e.has(3)) return;
  unsigned char o3 = e.octet(3);
  t.put("    coding ");
  t.bits(o3, 7, 2);
  t.put(" location ");
  t.bits(o3, 4, 4);
  t.put('\n');
  unsigned q = 3;  // skipext, within the element
  while (e.has(q) && !(e.octet(q) & 0x80)) ++q;
  ++q;
  if (!e.has(q)) return;
  unsigned char value = e.octet(q++) & 0x7F;
  cause_value(t, cause_text(cvlist, 67, value), value);
  while (e.has(q)) {
    t.printf("    diag attribute %d ", e.octet(q++) & 0x7F);
    if (!e.has(q)) break;
    unsigned char rej = e.octet(q++);
    t.printf(" rej %d ", rej & 0x7F);
    if (rej & 0x80) {
      t.put('\n');
      return;
    }
    if (!e.has(q)) break;
    t.printf(" av %d\n", e.octet(q++) & 0x7F);
  }
  if (t.pos > t.begin && t.pos[-1] != '\n') t.put('\n');  // a diagnostic cut short by the element's end
}

void prchident_text(Text& t, Element const& e) {
  if (e.has(3)) octet_line(t, "    octet 3 ", e.octet(3));
}

void prcalled_text(Text& t, Element const& e) {
  if (!e.has(3)) return;
  octet_line(t, "    octet 3 ", e.octet(3));
  t.put("    number digits ");
  chars(t, e, 4);
  t.put('\n');
}

void prcalling_text(Text& t, Element const& e) {
  if (!e.has(3)) return;
  octet_line(t, "    octet 3 ", e.octet(3));
  unsigned q = 4;
  if (!(e.octet(3) & 0x80) && e.has(4)) octet_line(t, "    octet 3a ", e.octet(q++));
  t.put("    number digits ");
  chars(t, e, q);
  t.put('\n');
}

void display_text(Text& t, Element const& e) {
  t.put("   \"");
  chars(t, e, 3);
  t.put("\"\n");
}

void prfacility_text(Text& t, Element const& e) {
  if (!e.has(3)) return;
  octet_line(t, "    octet 3 ", e.octet(3));
  unsigned q = 4;
  while (e.has(q)) {
    octet_line(t, "   octet 4 ", e.octet(q++));
    if (!e.has(q)) break;
    unsigned n = e.octet(q++) & 0x7F;
    t.printf("   octet 5 %u\n", n);
    t.put("   contents ");
    for (unsigned k = 0; k < n && e.has(q); ++k) t.printf("%2x ", e.octet(q++));
    t.put('\n');
  }
}

void prcause_1tr6_text(Text& t, Element const& e) {
  if (e.available == 0) {
    t.put("   OK (cause length=0)\n");
    return;
  }
  if (e.has(4)) {
    t.put("    coding ");
    t.bits(e.octet(4), 7, 2);
    t.put(" location ");
    t.bits(e.octet(4), 4, 4);
    t.put('\n');
  }
  unsigned char value = e.octet(3) & 0x7F;
  cause_value(t, cause_text(cause_1tr6, static_cast<size_t>(cause_1tr6_len), value), value);
}

void prbearer_ni1_text(Text& t, Element const& e) {
  if (!e.has(3)) return;
  unsigned char o = e.octet(3);
  t.put("    octet 3  ");
  t.bits(o, 8, 8);
  t.put(o == 0x80   ? " Speech"
        : o == 0x88 ? " Unrestricted digital information"
        : o == 0x90 ? " 3.1 kHz audio"
                    : " Unknown information-transfer capability");
  t.put('\n');
  if (!e.has(4)) return;
  o = e.octet(4);
  t.put("    octet 4  ");
  t.bits(o, 8, 8);
  t.put(o == 0x90 ? " 64 kbps, circuit mode" : o == 0xC0 ? " Packet mode" : " Unknown transfer mode");
  t.put('\n');
  if (e.available <= 2 || !e.has(5)) return;
  o = e.octet(5);
  t.put("    octet 5  ");
  t.bits(o, 8, 8);
  if (o == 0x21) {
    t.put(" Rate adaption\n");
    if (!e.has(6)) return;
    t.put("    octet 5a ");
    t.bits(e.octet(6), 8, 8);
  } else {
    t.put(o == 0xA2 ? " u-law" : " Unknown UI layer 1 protocol");
  }
  t.put('\n');
}

void prcharge_text(Text& t, Element const& e) {
  if (!e.has(3)) return;
  t.put("    GEA ");
  t.bits(e.octet(3), 8, 8);
  t.put("  Anzahl: ");
  chars(t, e, 4);
  t.put('\n');
}

void prtext_text(Text& t, Element const& e) {
  t.put("    ");
  chars(t, e, 3);
  t.put('\n');
}

void prfeatureind_text(Text& t, Element const& e) {
  if (!e.has(3)) return;
  octet_line(t, "    octet 3  ", e.octet(3));
  unsigned status = 4;
  if (!(e.octet(3) & 0x50)) {
    if (!e.has(4)) return;
    octet_line(t, "    octet 4  ", e.octet(4));
    status = 5;
  }
  if (!e.has(status)) return;
  static char const* const kStatus[] = {"Idle", "Active", "Prompt", "Pending"};
  unsigned char s = e.octet(status);
  t.put("    Status:  ");
  t.put(s < 4 ? kStatus[s] : "(Reserved)");
  t.put('\n');
}

void disptext_ni1_text(Text& t, Element const& e) {
  if (!e.has(3)) return;
  if (e.octet(3) != 0x80) {
    t.put("    Unknown display type\n");
    return;
  }
  // Fields {tag, length, text}; the walk counts the element's remaining octets down by each
  // field's length + 2, and stops at the element's end whatever the lengths claim.
  int count = static_cast<int>(e.available) - 1;
  unsigned q = 4;
  while (count > 0 && e.has(q + 1)) {
    unsigned char tag = e.octet(q);
    unsigned n = e.octet(q + 1);
    count -= static_cast<int>(n) + 2;
    if (tag == 0x80 || tag == 0x81) {
      q += 3;
      continue;
    }
    char const* name = nullptr;
    for (TagRow const& r : dtaglist) {
      if (r.tag == tag) name = r.name;
    }
    if (name) t.printf("    %s: ", name);
    else t.printf("    (unknown display tag %2x): ", tag);
    q += 2;
    for (unsigned k = 0; k < n && e.has(q); ++k) t.put(static_cast<char>(e.octet(q++)));
    t.put('\n');
  }
}

// The public form of a printer: the element's own length octet is its extent.
int unbounded(char* out, unsigned char const* element, ElementPrinter printer) {
  Text t(out, kMaxElementText + 1);
  printer(t, Element{element, element[1]});
  return t.written();
}

}  // namespace

int general(char* o, unsigned char const* e) { return unbounded(o, e, general_text); }
int prbearer(char* o, unsigned char const* e) { return unbounded(o, e, prbearer_text); }
int prcause(char* o, unsigned char const* e) { return unbounded(o, e, prcause_text); }
int prchident(char* o, unsigned char const* e) { return unbounded(o, e, prchident_text); }
int prcalled(char* o, unsigned char const* e) { return unbounded(o, e, prcalled_text); }
int prcalling(char* o, unsigned char const* e) { return unbounded(o, e, prcalling_text); }
int display(char* o, unsigned char const* e) { return unbounded(o, e, display_text); }
int prfacility(char* o, unsigned char const* e) { return unbounded(o, e, prfacility_text); }
int prcause_1tr6(char* o, unsigned char const* e) { return unbounded(o, e, prcause_1tr6_text); }
int prbearer_ni1(char* o, unsigned char const* e) { return unbounded(o, e, prbearer_ni1_text); }
int general_ni1(char* o, unsigned char const* e) { return unbounded(o, e, general_text); }
int prcharge(char* o, unsigned char const* e) { return unbounded(o, e, prcharge_text); }
int prtext(char* o, unsigned char const* e) { return unbounded(o, e, prtext_text); }
int prfeatureind(char* o, unsigned char const* e) { return unbounded(o, e, prfeatureind_text); }
int disptext_ni1(char* o, unsigned char const* e) { return unbounded(o, e, disptext_ni1_text); }

int printbits(char* out, unsigned char const* octet, int firstBit, int count) {
  int n = 0;
  for (int b = firstBit; n < count && b >= 1; --b) out[n++] = ((*octet >> (b - 1)) & 1) ? '1' : '0';
  return n;
}

unsigned char const* skipext(unsigned char const* p) {
  while (!(*p & 0x80)) ++p;
  return p + 1;
}

int QuickHex(char* out, unsigned char const* data, int count) {
  static char const digits[] = "0123456789ABCDEF";
  int n = 0;
  for (int i = 0; i < count; ++i) {
    out[n++] = ' ';
    out[n++] = digits[data[i] >> 4];
    out[n++] = digits[data[i] & 15];
  }
  out[n++] = '\0';
  return n;
}

// ---------------------------------------------------------------- the frame

namespace {

// Room kept at the end of the buffer for the mark of a cut text.
constexpr char kCutMark[] = "...\n";

void message_text(Text& t, unsigned char const* m, unsigned size) {
  if (size == 0) {
    t.put("frame too short\n");
    return;
  }
  if (m[0] != 0x08) {
    t.printf("Unknown protocol %x!", m[0]);
    return;
  }
  // Call reference: its length octet, then one octet (a basic-rate port) or, for a length of
  // exactly two, two octets (a primary-rate port); the flag is bit 8 of the first, the value
  // the rest. Any other length still reads one octet and takes the next as the message type,
  // so a malformed length never hides the message and its elements.
  unsigned i = 1;
  if (i >= size) {
    t.put("frame too short\n");
    return;
  }
  unsigned crlen = m[i++];
  unsigned callref = 0;
  bool called = false;
  if (crlen != 0 && i < size) {
    called = (m[i] & 0x80) != 0;
    callref = m[i++] & 0x7F;
    if (crlen == 2 && i < size) callref = (callref << 8) | m[i++];
  }
  if (i >= size) {
    t.put("frame too short\n");
    return;
  }
  unsigned char type = m[i++];
  char const* name = nullptr;
  for (MessageType const& r : mtlist) {
    if (r.type == type) {
      name = r.name;
      break;
    }
  }
  char const* who = called ? "called" : "caller";
  if (name) t.printf("callref %u %s size %u message type %s\n", callref, who, size, name);
  else t.printf("callref %u %s size %u unknown message type %x!\n", callref, who, size, type);

  while (i < size && !t.cut) {
    unsigned char o = m[i];
    if (o & 0x80) {
      switch ((o >> 4) & 7) {
        case 1: t.printf("  Shift %x\n", o & 0x0F); break;
        case 2:
          if (o == 0xA0) t.put("  More data\n");
          else if (o == 0xA1) t.put("  Sending complete\n");
          break;
        case 3: t.printf("  Congestion level %x\n", o & 0x0F); break;
        case 5: t.printf("  Repeat indicator %x\n", o & 0x0F); break;
        default: t.printf("  Reserved %x\n", o); break;
      }
      ++i;
      continue;
    }
    unsigned length = i + 1 < size ? m[i + 1] : 0;
    unsigned present = i + 2 <= size ? size - (i + 2) : 0;
    Element e{m + i, length < present ? length : present};
    ElementRow const* row = nullptr;
    for (ElementRow const& r : ielist) {
      if (r.id == o) {
        row = &r;
        break;
      }
    }
    if (row) {
      t.printf("  %s\n", row->name);
      if (i + 1 < size) row->printer(t, e);
    } else {
      t.printf("  attribute %x attribute size %u\n", o, length);
    }
    i += 2 + length;
  }
}

}  // namespace

void dlogframe(unsigned char const* frame, int length, int networkToUser, char* out) {
  if (!frame || length < 3) return;
  unsigned size = static_cast<unsigned>(length);
  Text t(out, kLogbufSize - (sizeof kCutMark - 1));
  for (unsigned i = 0; i < size && !t.cut; ++i) t.printf(" %02X", frame[i]);
  t.put('\n');
  unsigned sapi = frame[0] >> 2, tei = frame[1] >> 1, control = frame[2];
  t.printf("frame %s ", networkToUser ? "network->user" : "user->network");
  unsigned char const* message = nullptr;
  unsigned message_size = 0;
  if (tei == 127) {
    if (sapi == 63) {
      t.put("tei management:\n");
    } else if (sapi != 0) {
      t.printf("unknown sapi %u broadcast\n", sapi);
    } else if (control == 0x03) {
      t.put("broadcast\n");
      message = frame + 3;
      message_size = size - 3;
    } else {
      t.put("no UI broadcast\n");
    }
  } else if (sapi != 0) {
    t.printf("unknown sapi = %u; tei = %u\n", sapi, tei);
  } else if (control & 0x01) {
    t.printf("SFrame tei = %u (", tei);
    for (unsigned i = 2; i < size && !t.cut; ++i) t.printf("%02X ", frame[i]);
    t.put(")\n");
  } else {
    t.printf("IFrame tei = %u\n", tei);
    message = frame + 4;
    message_size = size >= 4 ? size - 4 : 0;
    if (message_size == 0) message = frame;  // any non-null start: nothing is read
  }
  if (message) message_text(t, message, message_size);
  if (t.cut) {
    std::memcpy(t.pos, kCutMark, sizeof kCutMark - 1);
    t.pos += sizeof kCutMark - 1;
  }
  *t.pos = '\0';
}

// ---------------------------------------------------------------- tables

MessageType const mtlist[32] = {
    {0x01, "ALERTING"},          {0x02, "CALL PROCEEDING"},      {0x07, "CONNECT"},
    {0x0F, "CONNECT ACKNOWLEDGE"}, {0x03, "PROGRESS"},           {0x05, "SETUP"},
    {0x0D, "SETUP ACKNOWLEDGE"}, {0x24, "HOLD"},                 {0x28, "HOLD ACKNOWLEDGE"},
    {0x30, "HOLD REJECT"},       {0x31, "RETRIEVE"},             {0x33, "RETRIEVE ACKNOWLEDGE"},
    {0x37, "RETRIEVE REJECT"},   {0x26, "RESUME"},               {0x2E, "RESUME ACKNOWLEDGE"},
    {0x22, "RESUME REJECT"},     {0x25, "SUSPEND"},              {0x2D, "SUSPEND ACKNOWLEDGE"},
    {0x21, "SUSPEND REJECT"},    {0x20, "USER INFORMATION"},     {0x45, "DISCONNECT"},
    {0x4D, "RELEASE"},           {0x5A, "RELEASE COMPLETE"},     {0x46, "RESTART"},
    {0x4E, "RESTART ACKNOWLEDGE"}, {0x60, "SEGMENT"},            {0x79, "CONGESTION CONTROL"},
    {0x7B, "INFORMATION"},       {0x62, "FACILITY"},             {0x6E, "NOTIFY"},
    {0x7D, "STATUS"},            {0x75, "STATUS ENQUIRY"},
};

ElementRow const ielist[33] = {
    {0x00, "Segmented message", general_text},
    {0x04, "Bearer capability", prbearer_text},
    {0x08, "Cause", prcause_text},
    {0x10, "Call identity", general_text},
    {0x14, "Call state", general_text},
    {0x18, "Channel identification", prchident_text},
    {0x1C, "Facility", prfacility_text},
    {0x1E, "Progress indicator", general_text},
    {0x20, "Network-specific facilities", general_text},
    {0x27, "Notification indicator", general_text},
    {0x28, "Display", display_text},
    {0x29, "Date/Time", general_text},
    {0x2C, "Keypad facility", general_text},
    {0x34, "Signal", general_text},
    {0x40, "Information rate", general_text},
    {0x42, "End-to-end delay", general_text},
    {0x43, "Transit delay selection and indication", general_text},
    {0x44, "Packet layer binary parameters", general_text},
    {0x45, "Packet layer window size", general_text},
    {0x46, "Packet size", general_text},
    {0x47, "Closed user group", general_text},
    {0x4A, "Reverse charge indication", general_text},
    {0x6C, "Calling party number", prcalling_text},
    {0x6D, "Calling party subaddress", general_text},
    {0x70, "Called party number", prcalled_text},
    {0x71, "Called party subaddress", general_text},
    {0x74, "Redirecting number", general_text},
    {0x78, "Transit network selection", general_text},
    {0x79, "Restart indicator", general_text},
    {0x7C, "Low layer compatibility", general_text},
    {0x7D, "High layer compatibility", general_text},
    {0x7E, "User-user", general_text},
    {0x7F, "Escape for extension", general_text},
};

CauseRow const cvlist[67] = {
    {0x01, "Unallocated (unassigned) number", "Nummer nicht zugeteilt"},
    {0x02, "No route to specified transit network", ""},
    {0x03, "No route to destination", ""},
    {0x04, "Send special information tone", ""},
    {0x05, "Misdialled trunk prefix", ""},
    {0x06, "Channel unacceptable", "Kanal nicht akzeptierbar"},
    {0x07, "Channel awarded and being delivered in an established channel", ""},
    {0x08, "Preemption", ""},
    {0x09, "Preemption - circuit reserved for reuse", ""},
    {0x10, "Normal call clearing", "Normale Ausloesung"},
    {0x11, "User busy", "TNB besetzt"},
    {0x12, "No user responding", ""},
    {0x13, "No answer from user (user alerted)", ""},
    {0x14, "Subscriber absent", ""},
    {0x15, "Call rejected", ""},
    {0x16, "Number changed", ""},
    {0x1A, "non-selected user clearing", ""},
    {0x1B, "Destination out of order", ""},
    {0x1C, "Invalid number format (address incomplete)", ""},
    {0x1D, "Facility rejected", ""},
    {0x1E, "Response to Status enquiry", ""},
    {0x1F, "Normal, unspecified", ""},
    {0x22, "No circuit/channel available", ""},
    {0x26, "Network out of order", ""},
    {0x27, "Permanent frame mode connection out-of-service", ""},
    {0x28, "Permanent frame mode connection operational", ""},
    {0x29, "Temporary failure", ""},
    {0x2A, "Switching equipment congestion", ""},
    {0x2B, "Access information discarded", ""},
    {0x2C, "Requested circuit/channel not available", ""},
    {0x2E, "Precedence call blocked", ""},
    {0x2F, "Resource unavailable, unspecified", ""},
    {0x31, "Quality of service unavailable", ""},
    {0x32, "Requested facility not subscribed", ""},
    {0x35, "Outgoing calls barred within CUG", ""},
    {0x37, "Incoming calls barred within CUG", ""},
    {0x39, "Bearer capability not authorized", ""},
    {0x3A, "Bearer capability not presently available", ""},
    {0x3E, "Inconsistency in designated outgoing access information and subscriber class ", " "},
    {0x3F, "Service or option not available, unspecified", ""},
    {0x41, "Bearer capability not implemented", ""},
    {0x42, "Channel type not implemented", ""},
    {0x43, "Requested facility not implemented", ""},
    {0x44, "Only restricted digital information bearer capability is available", ""},
    {0x4F, "Service or option not implemented", ""},
    {0x51, "Invalid call reference value", ""},
    {0x52, "Identified channel does not exist", ""},
    {0x53, "A suspended call exists, but this call identity does not", ""},
    {0x54, "Call identity in use", ""},
    {0x55, "No call suspended", ""},
    {0x56, "Call having the requested call identity has been cleared", ""},
    {0x57, "User not member of CUG", ""},
    {0x58, "Incompatible destination", ""},
    {0x5A, "Non-existent CUG", ""},
    {0x5B, "Invalid transit network selection", ""},
    {0x5F, "Invalid message, unspecified", ""},
    {0x60, "Mandatory information element is missing", ""},
    {0x61, "Message type non-existent or not implemented", ""},
    {0x62, "Message not compatible with call state or message type non-existent or not implemented ", " "},
    {0x63, "Information element/parameter non-existent or not implemented", ""},
    {0x64, "Invalid information element contents", ""},
    {0x65, "Message not compatible with call state", ""},
    {0x66, "Recovery on timer expiry", ""},
    {0x67, "Parameter non-existent or not implemented - passed on", ""},
    {0x6E, "Message with unrecognized parameter discarded", ""},
    {0x6F, "Protocol error, unspecified", ""},
    {0x7F, "Interworking, unspecified", ""},
};

ElementRow const ielist_ni1[21] = {
    {0x04, "Bearer Capability", prbearer_ni1_text},
    {0x08, "Cause", prcause_text},
    {0x14, "Call State", general_text},
    {0x18, "Channel Identification", prchident_text},
    {0x1E, "Progress Indicator", general_text},
    {0x27, "Notification Indicator", general_text},
    {0x2C, "Keypad Facility", prtext_text},
    {0x32, "Information Request", general_text},
    {0x34, "Signal", general_text},
    {0x38, "Feature Activation", general_text},
    {0x39, "Feature Indication", prfeatureind_text},
    {0x3A, "Service Profile Identification (SPID)", prtext_text},
    {0x3B, "Endpoint Identifier", general_text},
    {0x6C, "Calling Party Number", prcalling_text},
    {0x6D, "Calling Party Subaddress", general_text},
    {0x70, "Called Party Number", prcalled_text},
    {0x71, "Called Party Subaddress", general_text},
    {0x74, "Redirecting Number", general_text},
    {0x78, "Transit Network Selection", general_text},
    {0x7C, "Low Layer Compatibility", general_text},
    {0x7D, "High Layer Compatibility", general_text},
};

ElementRow const ielist_ni1_cs5[2] = {
    {0x1D, "Operator system access", general_text},
    {0x2A, "Display text", disptext_ni1_text},
};

ElementRow const ielist_ni1_cs6[1] = {{0x7B, "Call appearance", general_text}};

ElementRow const we_0[10] = {
    {0x08, "Cause", prcause_1tr6_text},
    {0x0C, "Connecting Address", prcalled_text},
    {0x10, "Call IDentity", general_text},
    {0x18, "Channel IDentity", general_text},
    {0x20, "Network Specific Facility", general_text},
    {0x28, "Display", general_text},
    {0x2C, "Keypad", general_text},
    {0x6C, "Origination Address", prcalled_text},
    {0x70, "Destination Address", prcalled_text},
    {0x7E, "User Info", general_text},
};

ElementRow const we_6[7] = {
    {0x01, "Service Indicator", general_text},
    {0x02, "Charging Information", prcharge_text},
    {0x03, "Date", prtext_text},
    {0x05, "Facility Select", general_text},
    {0x06, "Facility Status", general_text},
    {0x07, "Status Called", general_text},
    {0x08, "Additional Transmission Attributes", general_text},
};

CauseRow const cause_1tr6[26] = {
    {0x01, "Invalid Call Reference", ""},   {0x03, "Bearer Service Not Implemented", ""},
    {0x07, "Caller Identity unknown", ""},  {0x08, "Caller Identity in Use", ""},
    {0x0A, "No Channels available", ""},    {0x10, "Facility Not Implemented", ""},
    {0x11, "Facility Not Subscribed", ""},  {0x20, "Outgoing calls barred", ""},
    {0x21, "User Access Busy", ""},         {0x22, "Negative GBG", ""},
    {0x23, "Unknown  GBG", ""},             {0x25, "No SPV known", ""},
    {0x35, "Destination not obtainable", ""}, {0x38, "Number changed", ""},
    {0x39, "Out Of Order", ""},             {0x3A, "No User Response", ""},
    {0x3B, "User Busy", ""},                {0x3D, "Incoming Barred", ""},
    {0x3E, "Call Rejected", ""},            {0x59, "Network Congestion", ""},
    {0x5A, "Remote User initiated", ""},    {0x70, "Local Procedure Error", ""},
    {0x71, "Remote Procedure Error", ""},   {0x72, "Remote User Suspend", ""},
    {0x73, "Remote User Resumed", ""},      {0x7F, "User Info Discarded", ""},
};
int const cause_1tr6_len = 26;

TagRow const dtaglist[22] = {
    {0x82, "Continuation"},        {0x83, "Called address"},         {0x84, "Cause"},
    {0x85, "Progress indicator"},  {0x86, "Notification indicator"}, {0x87, "Prompt"},
    {0x88, "Accumlated digits"},   {0x89, "Status"},                 {0x8A, "Inband"},
    {0x8B, "Calling address"},     {0x8C, "Reason"},                 {0x8D, "Calling party name"},
    {0x8E, "Called party name"},   {0x8F, "Orignal called name"},    {0x90, "Redirecting name"},
    {0x91, "Connected name"},      {0x92, "Originating restrictions"}, {0x93, "Date & time of day"},
    {0x94, "Call Appearance ID"},  {0x95, "Feature address"},        {0x96, "Redirection name"},
    {0x9E, "Text"},
};

}  // namespace ISDN
