#include "foundation/Packet.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <new>
#include <type_traits>

// Packets may be released by static objects at exit: the pool must outlive them all.
static_assert(std::is_trivially_destructible_v<PacketPool>);

_Packet::_Packet(const _Packet& o)
    : count(0), fdata(buffer + (o.fdata - o.buffer)), ftail(buffer + (o.ftail - o.buffer)) {
  std::memcpy(fdata, o.fdata, o.length());
}

void* _Packet::operator new(std::size_t size) {
  static_assert(sizeof(_Packet) <= sizeof(PacketPool::List_storage::object));
  if (size > sizeof(_Packet)) throw std::bad_alloc();
  _Packet* p = PacketPool::instance().allocate();
  if (!p) throw std::bad_alloc();
  return p;
}

void _Packet::operator delete(void* p) {
  PacketPool::instance().deallocate(static_cast<_Packet*>(p));
}

unsigned char* Packet::writable_data() {
  require(!p_.is_null(), "null packet");
  return w().fdata;
}

unsigned char* Packet::tail() {
  require(!p_.is_null(), "null packet");
  return w().ftail;
}

void Packet::reserve_head(unsigned len) {
  require(len <= packet_max_size, "length>packet_max_size");
  if (p_.is_null()) {
    p_ = new _Packet;
    require(!p_.is_null(), "allocation fail");
    _Packet& b = w();
    b.fdata = b.ftail = b.buffer + len;
    return;
  }
  // Both positions move towards the end, so the room comes out of the tail room.
  require(len <= r().tailroom(), "new_len>packet_max_size");
  _Packet& b = w();
  std::memmove(b.fdata + len, b.fdata, b.length());
  b.fdata += len;
  b.ftail += len;
}

void Packet::reserve_tail(unsigned len) {
  require(len <= packet_max_size, "len>packet_max_size");
  if (p_.is_null()) {
    p_ = new _Packet;
    require(!p_.is_null(), "allocation fail");
    _Packet& b = w();
    b.fdata = b.ftail = b.end_of_buffer() - len;
    return;
  }
  // Both positions move towards the start, so the room comes out of the head room.
  require(len <= r().headroom(), "_tailroom()+len <= packet_max_size");
  _Packet& b = w();
  std::memmove(b.fdata - len, b.fdata, b.length());
  b.fdata -= len;
  b.ftail -= len;
}

unsigned char* Packet::put(unsigned len) {
  require(!p_.is_null(), "null packet");
  require(len <= r().tailroom(), "len<=_tailroom()");
  _Packet& b = w();
  unsigned char* at = b.ftail;
  b.ftail += len;
  check("put");
  return at;
}

unsigned char* Packet::pull(unsigned len) {
  require(!p_.is_null(), "null packet");
  require(len <= r().length(), "len<=_length()");
  _Packet& b = w();
  unsigned char* at = b.fdata;
  b.fdata += len;
  return at;
}

void Packet::trim(unsigned len) {
  require(!p_.is_null(), "null packet");
  require(len <= r().length(), "len<=_length()");
  w().ftail -= len;
  check("trim");
}

unsigned char& Packet::operator[](int i) {
  require(!p_.is_null(), "null packet");
  require(i >= 0 && static_cast<unsigned>(i) < r().length(), "index out of range");
  return w().fdata[i];
}

unsigned char Packet::operator[](int i) const {
  require(!p_.is_null(), "null packet");
  require(i >= 0 && static_cast<unsigned>(i) < r().length(), "index out of range");
  return r().fdata[i];
}

void Packet::put16_b(unsigned short v) {
  require(!p_.is_null(), "null packet");
  put8(static_cast<unsigned char>(v >> 8));
  put8(static_cast<unsigned char>(v));
}

void Packet::push16_b(unsigned short v) {
  require(!p_.is_null(), "null packet");
  push8(static_cast<unsigned char>(v));
  push8(static_cast<unsigned char>(v >> 8));
}

unsigned short Packet::pull16_b() {
  require(!p_.is_null(), "null packet");
  unsigned hi = pull8();
  unsigned lo = pull8();
  return static_cast<unsigned short>(hi << 8 | lo);
}

void Packet::put16(unsigned short v) {
  put8(static_cast<unsigned char>(v));
  put8(static_cast<unsigned char>(v >> 8));
}

unsigned short Packet::pull16_l() {
  unsigned lo = pull8();
  unsigned hi = pull8();
  return static_cast<unsigned short>(hi << 8 | lo);
}

void Packet::put(const Packet& other) {
  // The length is read once: appending a packet to itself doubles it instead of chasing its
  // own growing tail until the buffer overflows.
  const unsigned len = other.length();
  if (len == 0) return;
  require(!p_.is_null(), "null packet");
  require(len <= r().tailroom(), "len<=_tailroom()");
  _Packet& b = w();  // copy first if shared: `other` may be this very handle
  std::memcpy(b.ftail, other.r().fdata, len);
  b.ftail += len;
  check("put");
}

void Packet::put(const std::string& s) {
  require(!p_.is_null(), "null packet");
  require(s.length() <= 255, "s.length()<=255");
  require(s.length() + 1 <= r().tailroom(), "len<=_tailroom()");
  put8(static_cast<unsigned char>(s.length()));
  _Packet& b = w();
  std::memcpy(b.ftail, s.data(), s.length());
  b.ftail += s.length();
  check("put");
}

std::string Packet::pull_string() {
  require(!p_.is_null(), "null packet");
  unsigned n = pull8();
  std::string s(n, '\0');
  unsigned have = n < r().length() ? n : r().length();
  if (have) std::memcpy(s.data(), pull(have), have);
  return s;  // bytes beyond the data stay 0
}

Packet Packet::sub(unsigned len, unsigned start) const {
  require(!p_.is_null(), "null packet");
  require(start <= r().length(), "start<=_length()");
  require(len <= r().length() - start, "start+len<=_length()");
  Packet out;
  _Packet* b = new _Packet;
  out.p_ = b;
  b->fdata = b->buffer + (r().fdata - r().buffer) + start;
  b->ftail = b->fdata + len;
  std::memcpy(b->fdata, r().fdata + start, len);
  return out;
}

std::string Packet::text() const {
  if (p_.is_null()) return "(null)";
  const _Packet& b = r();
  if (!b.valid()) return "(bad)";
  static const char digits[] = "0123456789ABCDEF";
  const unsigned n = b.length();
  std::string s;
  if (n == 0) return s;
  s.resize(n * 3 - 1);
  char* o = s.data();
  for (unsigned i = 0; i < n; ++i) {
    if (i) *o++ = ' ';
    *o++ = digits[b.fdata[i] >> 4];
    *o++ = digits[b.fdata[i] & 15];
  }
  return s;
}

bool Packet::dump(std::ostream& os) const {
  if (p_.is_null()) return false;
  const _Packet& b = r();
  const std::ios_base::fmtflags saved = os.flags();
  os << std::dec << "head=" << b.headroom() << ", data=" << b.length() << ", tail=" << b.tailroom();
  os.flags(saved);
  return true;
}

bool Packet::dump_context(std::ostream& os) {
  if (p_.is_null() || !r().valid()) return false;
  _Packet& b = w();
  if (b.length() == 0) return true;
  const std::ios_base::fmtflags saved = os.flags();
  os << "dump:" << std::hex;
  for (const unsigned char* c = b.fdata; c != b.ftail; ++c) os << ' ' << static_cast<unsigned>(*c);
  os.flags(saved);
  return true;
}

void Packet::check_fail(const char* format, ...) const {
  char text[256];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  std::clog << "packet check fail\n" << text << "\nterminate.\n" << std::flush;
  std::terminate();
}

void Packet::fail(const char* text) const {
  std::clog << "PACKET ASSERTION FAILED!\n" << text << '\n';
  PacketInfo(*this).put(std::clog);
  std::clog << std::endl;
  std::terminate();
}

PacketInfo::PacketInfo(const Packet& p) {
  const _Packet* b = p.p_.get();
  if (!b) {
    null = true;
    return;
  }
  head = b->fdata - b->buffer;
  length = b->ftail - b->fdata;
  tail = b->end_of_buffer() - b->ftail;
  valid = b->valid();
  if (b->buffer <= b->fdata && b->fdata < b->ftail && b->ftail <= b->end_of_buffer())
    bytes.assign(b->fdata, b->ftail);
}

void PacketInfo::put(std::ostream& os) const {
  if (null) {
    os << "(null)\n";
    return;
  }
  const std::ios_base::fmtflags saved = os.flags();
  os << std::dec << "head=" << head << ", data=" << length << ", tail=" << tail << '\n';
  if (!valid) os << "can't dump packet: wrong pointers\n";
  if (length != 0 && !bytes.empty()) {
    os << "dump:\n" << std::hex;
    for (unsigned char c : bytes) os << ' ' << static_cast<unsigned>(c);
    os << '\n';
  }
  os.flags(saved);
}
