#pragma once
// Builds one SNMPv2c trap (an SNMPv2-Trap-PDU inside a community message, BER encoded) in a
// fixed buffer, ready for its user to send in one UDP datagram. The sequence headers are
// written first with length 0 and rewritten in place when the message is ended, which relies on
// the encoder writing every sequence header in four octets (tag, 0x82, two length octets).
//
// Order of calls: snmp_session_seed (optional), trap_init, trap_pack_begin, trap_pack_add once
// or more, trap_pack_end; the message is then the first `length` octets of `packet`. Every call
// returns 0 on success and -1 on failure.
#include <cstddef>
#include <cstdint>

#include "monitoring/TrapValues.h"

struct trap_buffer {
  int32_t version;       // 1: SNMPv2c
  int32_t pdu_type;      // 0xA7: SNMPv2-Trap-PDU
  int32_t request_id;    // holds the seed until trap_init turns it into the next id
  int32_t error_status;
  int32_t error_index;
  char community[32];    // NUL-terminated, at most 31 characters
  int32_t state;         // trap_state
  unsigned char packet[2048];
  uint32_t remaining;    // free octets of the packet
  uint32_t length;       // the finished message's length
  // Positions in the packet; null while unset.
  unsigned char* after_message_header;
  unsigned char* pdu_header;
  unsigned char* after_pdu_header;
  unsigned char* varbind_list_header;
  unsigned char* after_varbind_list_header;
  unsigned char* write_position;
};

enum trap_state : int32_t { trap_initialised = 0, trap_begun = 1, trap_has_varbinds = 2, trap_ended = 3 };

// The first 31 octets are the community text (NUL-terminated within the record when shorter).
struct trap_settings {
  char community[64];
};

// Sets the request-id that trap_init derives the next one from; does nothing for a null buffer.
int snmp_session_seed(trap_buffer* buffer, int32_t seed);
// Prepares the buffer for a new message: the next request-id, the community of the settings
// (or "vormel" without settings), an empty packet. Returns 0, also for a null buffer.
int trap_init(trap_buffer* buffer, const trap_settings* settings);
// Writes the message up to the variable-binding list.
int trap_pack_begin(trap_buffer* buffer);
// Appends one variable binding: the object identifier's `count` components and the value of the
// ASN.1 type `type`, `length` octets at `value`. INTEGER takes a signed and Counter32, Gauge32,
// TimeTicks and UInteger32 an unsigned integer of 1, 2, 4 or 8 octets that fits in 32 bits;
// Counter64 an unsigned 64-bit integer; an OBJECT IDENTIFIER value is an array of 32-bit
// components (length = 4 × components); the string types take their octets; NULL takes none.
// Arguments that cannot be encoded are refused and leave the buffer as it was; a message that
// outgrows the packet fails and leaves the buffer unusable until the next trap_init.
int trap_pack_add(trap_buffer* buffer, const uint32_t* oid, uint32_t count, unsigned char type, const void* value,
                  uint32_t length);
// Completes the lengths; afterwards the message is packet[0 .. length).
int trap_pack_end(trap_buffer* buffer);
