#include "asn1/OCTET_STRING.h"

#include "asn1/Visitor.h"

#include <boost/polymorphic_cast.hpp>

namespace ASN1 {

const ConstrainedInfo OCTET_STRING::theInfo = {{&createAs<OCTET_STRING>, 4}, Unconstrained, 0, 0xFFFFFFFFu};

int OCTET_STRING::do_compare(const AbstractData& other) const
{
    const auto* o = boost::polymorphic_downcast<const OCTET_STRING*>(&other);
    return lexicographic_compare_bytes(data(), data() + size(), o->data(), o->data() + o->size());
}

AbstractData* OCTET_STRING::do_clone() const
{
    auto* copy = boost::polymorphic_downcast<OCTET_STRING*>(createFrom(infoRecord()));
    *copy = *this;
    return copy;
}

bool OCTET_STRING::do_accept(Visitor& v) { return v.do_visit(*this); }
bool OCTET_STRING::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

}  // namespace ASN1
