#include "asn1/BMPString.h"

#include "asn1/Visitor.h"

#include <boost/polymorphic_cast.hpp>

#include <algorithm>

namespace ASN1 {

const BMPStringInfo BMPString::theInfo = {
    {{&createAs<BMPString>, 30}, Unconstrained, 0, 0xFFFFFFFFu}, 0, 0xFFFF, 16, 16};

bool BMPString::legalCharacter(wchar_t c) const
{
    unsigned u = static_cast<unsigned>(c);
    return u >= info()->firstChar && u <= info()->lastChar;
}

BMPString::size_type BMPString::first_illegal_at() const
{
    for (size_type i = 0; i < size(); ++i)
        if (!legalCharacter((*this)[i]))
            return i;
    return size();
}

bool BMPString::isValid() const
{
    const ConstrainedInfo& c = info()->size;
    if (size() < static_cast<unsigned>(c.lowerLimit))
        return false;
    if (c.constraint != ExtendableConstraint && size() > c.upperLimit)
        return false;
    return first_illegal_at() == size();
}

bool BMPString::isStrictlyValid() const
{
    const ConstrainedInfo& c = info()->size;
    if (size() < static_cast<unsigned>(c.lowerLimit) || size() > c.upperLimit)
        return false;
    return first_illegal_at() == size();
}

int BMPString::do_compare(const AbstractData& other) const
{
    const auto* o = boost::polymorphic_downcast<const BMPString*>(&other);
    size_t n = std::min(size(), o->size());
    for (size_t i = 0; i < n; ++i)
        if ((*this)[i] != (*o)[i])
            return (*this)[i] < (*o)[i] ? -1 : 1;
    return size() < o->size() ? -1 : (size() > o->size() ? 1 : 0);
}

AbstractData* BMPString::do_clone() const
{
    auto* copy = boost::polymorphic_downcast<BMPString*>(createFrom(infoRecord()));
    *copy = *this;
    return copy;
}

bool BMPString::do_accept(Visitor& v) { return v.do_visit(*this); }
bool BMPString::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

}  // namespace ASN1
