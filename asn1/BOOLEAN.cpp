#include "asn1/BOOLEAN.h"

#include "asn1/Visitor.h"

#include <boost/polymorphic_cast.hpp>

namespace ASN1 {

const TypeInfo BOOLEAN::theInfo = {&createAs<BOOLEAN>, 1};

int BOOLEAN::do_compare(const AbstractData& other) const
{
    return int(value_) - int(boost::polymorphic_downcast<const BOOLEAN*>(&other)->value_);
}

AbstractData* BOOLEAN::do_clone() const
{
    auto* copy = boost::polymorphic_downcast<BOOLEAN*>(createFrom(infoRecord()));
    copy->value_ = value_;
    return copy;
}

bool BOOLEAN::do_accept(Visitor& v) { return v.do_visit(*this); }
bool BOOLEAN::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

}  // namespace ASN1
