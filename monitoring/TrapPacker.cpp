#include "monitoring/TrapPacker.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/types.h>
#include <net-snmp/library/asn1.h>
#include <net-snmp/library/snmp.h>

#include <cstring>
#include <initializer_list>
#include <limits>

namespace {

constexpr uint32_t kPacketSize = sizeof(trap_buffer::packet);
constexpr std::size_t kCommunityMax = sizeof(trap_buffer::community) - 1;
constexpr char kDefaultCommunity[] = "vormel";
constexpr unsigned char kSequence = ASN_SEQUENCE | ASN_CONSTRUCTOR;

// The library's builders count room in size_t and take their integers as long or unsigned
// long (and identifier components as oid, unsigned long wide), whatever the word size: every
// value is handed over in exactly that form, never as the record's 32-bit fields.
unsigned char* build_int(trap_buffer* b, unsigned char* at, int32_t field) {
  const long value = field;
  std::size_t room = b->remaining;
  unsigned char* next = asn_build_int(at, &room, ASN_INTEGER, &value, sizeof value);
  b->remaining = static_cast<uint32_t>(room);
  return next;
}

unsigned char* build_header(trap_buffer* b, unsigned char* at, unsigned char tag) {
  std::size_t room = b->remaining;
  unsigned char* next = asn_build_sequence(at, &room, tag, 0);
  b->remaining = static_cast<uint32_t>(room);
  return next;
}

// Rewrites a header written by build_header with its final length; the header keeps its four
// octets, so nothing behind it moves.
void complete_header(trap_buffer* b, unsigned char* header, unsigned char tag, std::size_t length) {
  std::size_t room = kPacketSize - static_cast<std::size_t>(header - b->packet);
  asn_build_sequence(header, &room, tag, length);
}

// An integer of 1, 2, 4 or 8 octets in host order, widened to 64 bits.
template <class Wide, class I8, class I16, class I32, class I64>
bool read_integer(const void* value, uint32_t length, Wide* out) {
  switch (length) {
    case 1: { I8 v; std::memcpy(&v, value, 1); *out = v; return true; }
    case 2: { I16 v; std::memcpy(&v, value, 2); *out = v; return true; }
    case 4: { I32 v; std::memcpy(&v, value, 4); *out = v; return true; }
    case 8: { I64 v; std::memcpy(&v, value, 8); *out = v; return true; }
    default: return false;
  }
}

// A value converted to the form the library's builder for its type expects.
struct LibraryValue {
  union {
    long integer;
    u_long unsigned_integer;
    counter64 counter;
    oid components[MAX_OID_LEN];
  };
  const unsigned char* data = nullptr;
  std::size_t length = 0;

  // False when the value cannot be encoded as its type.
  bool convert(unsigned char type, const void* value, uint32_t size) {
    data = static_cast<const unsigned char*>(value);
    length = size;
    switch (type) {
      case ASN_INTEGER: {
        int64_t v;
        if (!read_integer<int64_t, int8_t, int16_t, int32_t, int64_t>(value, size, &v) ||
            v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
          return false;
        integer = static_cast<long>(v);
        return use(&integer, sizeof integer);
      }
      case ASN_COUNTER:
      case ASN_GAUGE:
      case ASN_TIMETICKS:
      case ASN_UINTEGER: {
        uint64_t v;
        if (!read_integer<uint64_t, uint8_t, uint16_t, uint32_t, uint64_t>(value, size, &v) ||
            v > std::numeric_limits<uint32_t>::max())
          return false;
        unsigned_integer = static_cast<u_long>(v);
        return use(&unsigned_integer, sizeof unsigned_integer);
      }
      case ASN_COUNTER64: {
        uint64_t v;
        if (size != sizeof v) return false;
        std::memcpy(&v, value, sizeof v);
        counter.high = static_cast<u_long>(v >> 32);
        counter.low = static_cast<u_long>(v & 0xFFFFFFFFu);
        return use(&counter, sizeof counter);
      }
      case ASN_OBJECT_ID: {
        const uint32_t count = size / sizeof(uint32_t);
        if (size % sizeof(uint32_t) != 0 || count == 0 || count > MAX_OID_LEN) return false;
        for (uint32_t i = 0; i < count; ++i) {
          uint32_t c;
          std::memcpy(&c, data + i * sizeof c, sizeof c);
          components[i] = c;
        }
        return use(components, count * sizeof(oid));
      }
      case ASN_NULL:
        return use(nullptr, 0);
      default:  // the string types take their octets as they are
        return true;
    }
  }

 private:
  bool use(const void* p, std::size_t n) {
    data = static_cast<const unsigned char*>(p);
    length = n;
    return true;
  }
};

}  // namespace

int snmp_session_seed(trap_buffer* buffer, int32_t seed) {
  if (buffer != nullptr) buffer->request_id = seed;
  return 0;
}

int trap_init(trap_buffer* buffer, const trap_settings* settings) {
  if (buffer == nullptr) return 0;
  trap_buffer& b = *buffer;
  b.version = 1;
  b.pdu_type = 0xA7;
  // A small congruential step from the previous id: successive traps get successive ids, each
  // odd and positive.
  b.request_id = static_cast<int32_t>(((static_cast<uint32_t>(b.request_id) * 850009u + 991873u) & 0x7FFFFFFFu) | 1u);
  b.error_status = 0;
  b.error_index = 0;
  std::memset(b.community, 0, sizeof b.community);
  if (settings != nullptr)
    std::memcpy(b.community, settings->community, strnlen(settings->community, kCommunityMax));
  else
    std::memcpy(b.community, kDefaultCommunity, sizeof kDefaultCommunity);
  std::memset(b.packet, 0, sizeof b.packet);
  b.remaining = kPacketSize;
  b.length = 0;
  b.state = trap_initialised;
  b.after_message_header = b.pdu_header = b.after_pdu_header = nullptr;
  b.varbind_list_header = b.after_varbind_list_header = b.write_position = nullptr;
  return 0;
}

int trap_pack_begin(trap_buffer* buffer) {
  if (buffer == nullptr || buffer->state != trap_initialised) return -1;
  trap_buffer& b = *buffer;
  b.state = trap_begun;
  unsigned char* at = build_header(&b, b.packet, kSequence);
  if (at == nullptr) return -1;
  b.after_message_header = at;
  if ((at = build_int(&b, at, b.version)) == nullptr) return -1;
  std::size_t room = b.remaining;
  at = asn_build_string(at, &room, ASN_OCTET_STR, reinterpret_cast<const u_char*>(b.community),
                        strnlen(b.community, kCommunityMax));
  b.remaining = static_cast<uint32_t>(room);
  if (at == nullptr) return -1;
  b.pdu_header = at;
  if ((at = build_header(&b, at, static_cast<unsigned char>(b.pdu_type))) == nullptr) return -1;
  b.after_pdu_header = at;
  for (int32_t field : {b.request_id, b.error_status, b.error_index})
    if ((at = build_int(&b, at, field)) == nullptr) return -1;
  b.varbind_list_header = at;
  if ((at = build_header(&b, at, kSequence)) == nullptr) return -1;
  b.after_varbind_list_header = b.write_position = at;
  return 0;
}

int trap_pack_add(trap_buffer* buffer, const uint32_t* components, uint32_t count, unsigned char type,
                  const void* value, uint32_t length) {
  if (buffer == nullptr || (buffer->state != trap_begun && buffer->state != trap_has_varbinds) ||
      buffer->write_position == nullptr)
    return -1;
  if (components == nullptr || count == 0 || count > MAX_OID_LEN || (value == nullptr && length != 0)) return -1;
  oid name[MAX_OID_LEN];
  for (uint32_t i = 0; i < count; ++i) name[i] = components[i];
  std::size_t name_length = count;
  LibraryValue v;
  if (!v.convert(type, value, length)) return -1;

  trap_buffer& b = *buffer;
  std::size_t room = b.remaining;
  // Stored even on failure: the buffer then refuses every further add and end until trap_init,
  // so that a half-written binding never goes out.
  b.write_position = snmp_build_var_op(b.write_position, name, &name_length, type, v.length,
                                       const_cast<u_char*>(v.data), &room);
  if (b.write_position == nullptr) return -1;
  b.remaining = static_cast<uint32_t>(room);
  b.state = trap_has_varbinds;
  return 0;
}

int trap_pack_end(trap_buffer* buffer) {
  if (buffer == nullptr || (buffer->state != trap_begun && buffer->state != trap_has_varbinds)) return -1;
  trap_buffer& b = *buffer;
  if (b.after_message_header == nullptr || b.pdu_header == nullptr || b.after_pdu_header == nullptr ||
      b.varbind_list_header == nullptr || b.after_varbind_list_header == nullptr || b.write_position == nullptr)
    return -1;
  complete_header(&b, b.varbind_list_header, kSequence, b.write_position - b.after_varbind_list_header);
  complete_header(&b, b.pdu_header, static_cast<unsigned char>(b.pdu_type), b.write_position - b.after_pdu_header);
  complete_header(&b, b.packet, kSequence, b.write_position - b.after_message_header);
  b.length = static_cast<uint32_t>(b.write_position - b.packet);
  b.state = trap_ended;
  return 0;
}
