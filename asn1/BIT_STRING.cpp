#include "asn1/BIT_STRING.h"

#include "asn1/Visitor.h"

#include <boost/polymorphic_cast.hpp>

namespace ASN1 {

const ConstrainedInfo BIT_STRING::theInfo = {{&createAs<BIT_STRING>, 3}, Unconstrained, 0, 0xFFFFFFFFu};

void BIT_STRING::resize(unsigned bits)
{
    totalBits_ = bits;
    bitData_.resize((size_t(bits) + 7) / 8, 0);
    if (bits % 8)
        bitData_.back() = static_cast<char>(bitData_.back() & (0xFF00 >> (bits % 8)));
}

bool BIT_STRING::operator[](unsigned n) const
{
    return n < totalBits_ && n / 8 < bitData_.size() && (bitData_[n / 8] & (0x80 >> (n % 8)));
}

void BIT_STRING::set(unsigned n, bool bit)
{
    if (n >= totalBits_ || n / 8 >= bitData_.size())
        return;
    char mask = static_cast<char>(0x80 >> (n % 8));
    bitData_[n / 8] = static_cast<char>(bit ? (bitData_[n / 8] | mask) : (bitData_[n / 8] & ~mask));
}

int BIT_STRING::do_compare(const AbstractData& other) const
{
    const auto* o = boost::polymorphic_downcast<const BIT_STRING*>(&other);
    size_t n = std::min(bitData_.size(), o->bitData_.size());
    for (size_t i = 0; i < n; ++i) {
        int a = static_cast<unsigned char>(bitData_[i]);
        int b = static_cast<unsigned char>(o->bitData_[i]);
        if (a != b) {
            int x = a ^ b;
            return (a & x) - (b & x);
        }
    }
    return totalBits_ < o->totalBits_ ? -1 : (totalBits_ > o->totalBits_ ? 1 : 0);
}

AbstractData* BIT_STRING::do_clone() const
{
    auto* copy = boost::polymorphic_downcast<BIT_STRING*>(createFrom(infoRecord()));
    copy->totalBits_ = totalBits_;
    copy->bitData_ = bitData_;
    return copy;
}

bool BIT_STRING::do_accept(Visitor& v) { return v.do_visit(*this); }
bool BIT_STRING::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

}  // namespace ASN1
