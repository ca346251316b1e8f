#pragma once
// Stream adaptors for diagnostic text: bytes and numbers in hexadecimal, an object's log
// prefix (its PutHeader) and a quoted text.
#include <cstddef>
#include <ostream>

namespace ext {

// Each byte as two upper-case hex digits followed by a space.
class OutBufInHex {
 public:
  OutBufInHex(const unsigned char* begin, const unsigned char* end) : begin_(begin), end_(end) {}
  OutBufInHex(const void* data, std::size_t len)
      : begin_(static_cast<const unsigned char*>(data)), end_(begin_ + len) {}
  void Put(std::ostream& os) const;

 private:
  const unsigned char* begin_;
  const unsigned char* end_;
};

// "0x" and the value in upper-case hex, zero-padded to width digits (0: no padding).
class OutUnsignedInHex {
 public:
  explicit OutUnsignedInHex(unsigned value, int width = 0) : value_(value), width_(width) {}
  void Put(std::ostream& os) const;

 private:
  unsigned value_;
  int width_;
};

inline std::ostream& operator<<(std::ostream& os, const OutBufInHex& h) {
  h.Put(os);
  return os;
}
inline std::ostream& operator<<(std::ostream& os, const OutUnsignedInHex& h) {
  h.Put(os);
  return os;
}

template <class X>
struct OutObjHeader {
  const X* obj;
};
// Writes obj's log prefix through its PutHeader(std::ostream&) const.
template <class X>
OutObjHeader<X> header(const X* obj) {
  return OutObjHeader<X>{obj};
}
template <class X>
std::ostream& operator<<(std::ostream& os, const OutObjHeader<X>& h) {
  h.obj->PutHeader(os);
  return os;
}

template <class T>
struct OutQuoted {
  const T& value;
};
// The value between double quotes, without escaping.
template <class T>
OutQuoted<T> quoted(const T& value) {
  return OutQuoted<T>{value};
}
template <class T>
std::ostream& operator<<(std::ostream& os, const OutQuoted<T>& q) {
  return os << '"' << q.value << '"';
}

}  // namespace ext
