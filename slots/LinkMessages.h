#pragma once
// What the signalling slots share between the controller and their link layer: a "userData"
// message handed down a stack, a message from the stack as bytes, the link statistics record.
#include <vector>

#include "asn1/schemas/LGCP.h"

class Packet;
class Protocol;
class HDLC;
class Slot;
namespace ISDN {
class LAPD;
}

// A new packet with the stack's head room and the bytes after it, handed to the stack's
// message(). False, and nothing sent, when the bytes do not fit one packet buffer behind the
// head room: controller data never overruns a buffer.
bool SendDown(Protocol& stack, std::vector<char> const& bytes);

// The data bytes of a packet that a link delivered upwards.
std::vector<char> BytesOf(Packet const& p);

// The link's "isdnLinkInfo" record in r; false when it did not change since the last one.
bool IsdnLinkInfo(ISDN::LAPD const& link, LGCP::IoctlResponse& r);

// The channel's five counters as an "hdlcLinkInfo" record in r.
void HdlcLinkInfo(HDLC const& channel, LGCP::IoctlResponse& r);

// A "trunkStatus" signal to each of the slots, in their order; other signals are ignored.
void PassTrunkStatus(std::vector<Slot*> const& slots, LGCP::Signal const& signal);
