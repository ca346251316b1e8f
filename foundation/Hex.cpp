#include "foundation/Hex.h"

#include <ios>

namespace ext {

void OutBufInHex::Put(std::ostream& os) const {
  std::ios_base::fmtflags old = os.flags();
  os.fill('0');
  for (const unsigned char* p = begin_; p < end_; ++p) {
    os.flags(std::ios::hex | std::ios::uppercase | std::ios::right);
    os.width(2);
    os << static_cast<unsigned>(*p) << ' ';
  }
  os.fill(' ');
  os.flags(old);
}

void OutUnsignedInHex::Put(std::ostream& os) const {
  std::ios_base::fmtflags old = os.flags();
  os.fill('0');
  os.flags(std::ios::hex | std::ios::uppercase | std::ios::right);
  os << "0x";
  os.width(width_);
  os << value_;
  os.fill(' ');
  os.flags(old);
}

}  // namespace ext
