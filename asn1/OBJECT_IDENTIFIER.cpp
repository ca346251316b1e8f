#include "asn1/OBJECT_IDENTIFIER.h"

#include "asn1/Visitor.h"

#include <boost/polymorphic_cast.hpp>

namespace ASN1 {

const TypeInfo OBJECT_IDENTIFIER::theInfo = {&createAs<OBJECT_IDENTIFIER>, 6};

namespace {

void putSubIdentifier(std::vector<char>& out, unsigned value)
{
    char groups[5];
    int n = 0;
    do {
        groups[n++] = static_cast<char>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (n > 1)
        out.push_back(static_cast<char>(groups[--n] | 0x80));
    out.push_back(groups[0]);
}

}  // namespace

void OBJECT_IDENTIFIER::encodeCommon(std::vector<char>& out) const
{
    out.clear();
    if (arcs_.size() < 2)
        return;
    putSubIdentifier(out, arcs_[0] * 40 + arcs_[1]);
    for (size_t i = 2; i < arcs_.size(); ++i)
        putSubIdentifier(out, arcs_[i]);
}

bool OBJECT_IDENTIFIER::decodeCommon(const char* bytes, unsigned length)
{
    arcs_.clear();
    if (length == 0)
        return true;
    arcs_.push_back(0);  // the first sub-identifier holds two arcs
    unsigned i = 0;
    while (i < length) {
        unsigned value = 0;
        unsigned char byte;
        do {
            if (i == length)
                return false;  // ends inside a sub-identifier
            byte = static_cast<unsigned char>(bytes[i++]);
            if (value > (0xFFFFFFFFu >> 7))
                return false;  // a sub-identifier beyond 32 bits would wrap
            value = value * 128 + (byte & 0x7F);
        } while (byte & 0x80);
        arcs_.push_back(value);
    }
    unsigned s = arcs_[1];
    if (s > 79) {
        arcs_[0] = 2;
        arcs_[1] = s - 80;
    } else if (s >= 40) {
        arcs_[0] = 1;
        arcs_[1] = s - 40;
    } else {
        arcs_[0] = 0;
    }
    return true;
}

int OBJECT_IDENTIFIER::do_compare(const AbstractData& other) const
{
    const auto& b = boost::polymorphic_downcast<const OBJECT_IDENTIFIER*>(&other)->arcs_;
    size_t n = std::min(arcs_.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (arcs_[i] != b[i])
            return arcs_[i] < b[i] ? -1 : 1;
    return static_cast<int>(arcs_.size()) - static_cast<int>(b.size());
}

AbstractData* OBJECT_IDENTIFIER::do_clone() const
{
    auto* copy = boost::polymorphic_downcast<OBJECT_IDENTIFIER*>(createFrom(infoRecord()));
    copy->arcs_ = arcs_;
    return copy;
}

bool OBJECT_IDENTIFIER::do_accept(Visitor& v) { return v.do_visit(*this); }
bool OBJECT_IDENTIFIER::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

}  // namespace ASN1
