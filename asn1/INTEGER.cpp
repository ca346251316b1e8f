#include "asn1/INTEGER.h"

#include "asn1/Visitor.h"

#include <boost/polymorphic_cast.hpp>

#include <algorithm>

namespace ASN1 {

const ConstrainedInfo INTEGER::theInfo = {{&createAs<INTEGER>, 2}, Unconstrained, 0, 0xFFFFFFFFu};

bool INTEGER::isStrictValid() const
{
    const ConstrainedInfo* r = info();
    if (r->constraint == Unconstrained)
        return true;
    if (r->lowerLimit < 0)
        return value_ >= r->lowerLimit && int64_t(value_) <= int64_t(r->upperLimit);
    unsigned u = static_cast<unsigned>(value_);
    return u >= static_cast<unsigned>(r->lowerLimit) && u <= r->upperLimit;
}

int INTEGER::do_compare(const AbstractData& other) const
{
    const int64_t a = value_;
    const int64_t b = boost::polymorphic_downcast<const INTEGER*>(&other)->value_;
    if (a == b)
        return 0;
    // The wrapping difference of the 32-bit forms; an unsigned word and the negative value
    // with the same bits still differ.
    const int d = static_cast<int>(static_cast<unsigned>(a) - static_cast<unsigned>(b));
    return d != 0 ? d : (a < b ? -1 : 1);
}

AbstractData* INTEGER::do_clone() const
{
    auto* copy = boost::polymorphic_downcast<INTEGER*>(createFrom(infoRecord()));
    copy->value_ = value_;
    return copy;
}

bool INTEGER::do_accept(Visitor& v) { return v.do_visit(*this); }
bool INTEGER::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

bool IntegerWithNamedNumber::getName(std::string& name) const
{
    const NamedNumberInfo* r = info();
    const NameEntry* first = r->namedNumbers;
    const NameEntry* last = first + r->numNamedNumbers;
    const NameEntry* it = std::lower_bound(first, last, value_,
                                           [](const NameEntry& e, int64_t v) { return e.value < v; });
    if (it == last || it->value != value_)
        return false;
    name = it->name;
    return true;
}

bool IntegerWithNamedNumber::setFromName(const std::string& name)
{
    const NamedNumberInfo* r = info();
    for (unsigned i = 0; i < r->numNamedNumbers; ++i) {
        if (name == r->namedNumbers[i].name) {
            value_ = r->namedNumbers[i].value;
            return true;
        }
    }
    return false;
}

bool IntegerWithNamedNumber::do_accept(Visitor& v) { return v.do_visit(*this); }
bool IntegerWithNamedNumber::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

}  // namespace ASN1
