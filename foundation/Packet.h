#pragma once
// Packet: the copy-on-write handle to one pooled 64 KiB buffer in which every byte stream and
// frame of the daemon travels. Layers reserve head and tail room, prepend and strip headers in
// place; a writer of a buffer that somebody else still holds gets its own copy first. Misuse
// (a null packet, an overrun) prints the packet and ends the process.
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "foundation/List_allocator.h"
#include "foundation/Smart_pointer.h"

constexpr unsigned packet_max_size = 65536;

// One pooled buffer. Head room = fdata - buffer, length = ftail - fdata, tail room =
// end - ftail; start <= fdata <= ftail <= end always holds.
struct _Packet final {
  std::uint32_t count = 0;  // Packet handles that hold this buffer
  unsigned char* fdata;
  unsigned char* ftail;
  unsigned char buffer[packet_max_size];

  // Empty, with all of the buffer as head room.
  _Packet() : fdata(buffer + packet_max_size), ftail(buffer + packet_max_size) {}
  // Copies only the data bytes, to the same positions (same head, data and tail room).
  _Packet(const _Packet& o);
  _Packet& operator=(const _Packet&) = delete;

  unsigned char* begin_of_buffer() { return buffer; }
  unsigned char* end_of_buffer() { return buffer + packet_max_size; }
  const unsigned char* begin_of_buffer() const { return buffer; }
  const unsigned char* end_of_buffer() const { return buffer + packet_max_size; }
  unsigned headroom() const { return static_cast<unsigned>(fdata - buffer); }
  unsigned length() const { return static_cast<unsigned>(ftail - fdata); }
  unsigned tailroom() const { return static_cast<unsigned>(end_of_buffer() - ftail); }
  bool valid() const {
    return buffer <= fdata && fdata <= ftail && ftail <= end_of_buffer();
  }

  // Buffers come only from the packet pool: an empty pool throws std::bad_alloc.
  static void* operator new(std::size_t size);
  static void operator delete(void* p);
  static void* operator new[](std::size_t) = delete;
  static void operator delete[](void*) = delete;
};

// The packet pool: 1,024 buffers, the one released last reused first, no locking.
using PacketPool = List_allocator<_Packet, 1024, Dummy_critical_section>;

template <>
struct Smart_pointer_traits<_Packet> {
  static constexpr bool copy_on_write = true;
  static unsigned& refs(_Packet& o) { return o.count; }
  static void destroy(_Packet* o) { delete o; }
  static _Packet* clone(const _Packet& o) { return new _Packet(o); }
};

class PacketInfo;

class Packet {
 public:
  Packet() = default;  // null, length 0

  bool is_null() const { return p_.is_null(); }
  // Data bytes; 0 for a null packet.
  unsigned length() const { return p_ ? p_.get()->length() : 0; }
  unsigned headroom() const { return p_ ? p_.get()->headroom() : 0; }
  unsigned tailroom() const { return p_ ? p_.get()->tailroom() : 0; }
  // First data byte, for reading; null for a null packet.
  const unsigned char* data() const { return p_ ? p_.get()->fdata : nullptr; }
  // Writable position of the first data byte (a shared buffer is copied first).
  unsigned char* writable_data();
  // Writable position one past the last data byte: the start of the tail room, into which a
  // reader receives bytes before it calls put(len).
  unsigned char* tail();

  // On a null packet: takes a buffer with len bytes of head room and no data. On a packet that
  // holds one already: len more head room, taken from the tail room (the data bytes move along).
  void reserve_head(unsigned len);
  // On a null packet: takes a buffer with len bytes of tail room and no data. Otherwise: len more
  // tail room, taken from the head room (the data bytes move along).
  void reserve_tail(unsigned len);

  void put8(unsigned char b);
  // Extends the data by len bytes at the tail; returns where they begin.
  unsigned char* put(unsigned len);
  void push8(unsigned char b);
  // The first byte, removed; 0 from an empty packet (which stays unchanged).
  unsigned char pull8();
  // Removes len bytes from the front; returns where they are (valid while the packet is held).
  unsigned char* pull(unsigned len);
  // Removes len bytes from the end.
  void trim(unsigned len);
  unsigned char& operator[](int i);
  unsigned char operator[](int i) const;

  void put16_b(unsigned short v);   // high byte first
  void push16_b(unsigned short v);  // data then begins high byte, low byte
  unsigned short pull16_b();        // missing bytes read as 0
  void put16(unsigned short v);     // low byte first
  unsigned short pull16_l();        // low byte first, missing bytes read as 0

  // Appends the data bytes of other (a null or empty other appends nothing; this packet may be
  // other itself, whose length is then taken once).
  void put(const Packet& other);
  // Appends a length byte and the bytes of s. A string longer than 255 bytes cannot be framed
  // by one length byte, so it is refused by a packet assertion ("s.length()<=255") rather than
  // written with a wrong length that would misframe everything after it.
  void put(const std::string& s);
  // A length byte, then that many bytes (missing bytes read as 0).
  std::string pull_string();

  // A packet holding a private copy of len bytes from position start of the data, at the same
  // buffer positions. Length first, start second.
  Packet sub(unsigned len, unsigned start) const;

  // "(null)", "(bad)", or every data byte as two upper-case hex digits, one space between.
  std::string text() const;
  // "head=H, data=L, tail=T" in decimal, no newline; false (nothing written) for a null packet.
  bool dump(std::ostream& os) const;
  // "dump:" and " x" per data byte in lower-case hex; false for a null or broken packet, true
  // and nothing written for an empty one. The stream's format flags are left as they were.
  bool dump_context(std::ostream& os);

  // Verifies the positions after the step named `step`; a broken packet ends the process.
  void check(const char* step);
  [[noreturn]] void check_fail(const char* format, ...) const
      __attribute__((format(printf, 2, 3)));
  // When cond is false: "PACKET ASSERTION FAILED!", the text, the packet report; terminates.
  void passert(bool cond, const std::string& text) const {
    if (!cond) [[unlikely]]
      fail(text.c_str());
  }

 private:
  friend class PacketInfo;

  void require(bool cond, const char* text) const {
    if (!cond) [[unlikely]]
      fail(text);
  }
  [[noreturn]] void fail(const char* text) const;
  _Packet& w() { return *p_.operator->(); }  // writable access
  const _Packet& r() const { return *p_.get(); }

  Smart_pointer<_Packet> p_;
};

// A snapshot of a packet for the assertion report.
class PacketInfo {
 public:
  explicit PacketInfo(const Packet& p);
  // "(null)", or "head=H, data=L, tail=T" and the bytes in lower-case hex, each line ended.
  void put(std::ostream& os) const;

  bool null = false;
  bool valid = false;
  long head = 0;
  long length = 0;
  long tail = 0;
  std::vector<unsigned char> bytes;
};

// ---- inline fast paths -------------------------------------------------------------------

inline void Packet::check(const char* step) {
  if (p_.is_null()) check_fail("after \"%s\" packet is null", step);
  _Packet& b = w();
  if (b.fdata < b.buffer || b.fdata > b.end_of_buffer()) check_fail("after \"%s\" fdata invalid", step);
  if (b.ftail < b.buffer || b.ftail > b.end_of_buffer()) check_fail("after \"%s\" ftail invalid", step);
  if (b.fdata > b.ftail) check_fail("after \"%s\" fdata>ftail", step);
}

inline void Packet::put8(unsigned char c) {
  require(!p_.is_null(), "null packet");
  require(r().tailroom() >= 1, "len<=_tailroom()");
  _Packet& b = w();
  ++b.ftail;
  check("put");
  b.ftail[-1] = c;
}

inline void Packet::push8(unsigned char c) {
  require(!p_.is_null(), "null packet");
  require(r().headroom() >= 1, "len<=_headroom()");
  _Packet& b = w();
  --b.fdata;
  check("push");
  *b.fdata = c;
}

inline unsigned char Packet::pull8() {
  require(!p_.is_null(), "null packet");
  if (r().length() == 0) return 0;
  _Packet& b = w();
  return *b.fdata++;
}
