#include "asn1/ENUMERATED.h"

#include "asn1/Visitor.h"

#include <boost/polymorphic_cast.hpp>

#include <cstdlib>
#include <cstring>

namespace ASN1 {

namespace {

// One text of a names table: the name before any "=N", and its value.
struct Item {
    std::string_view name;
    int value;
};

// Walks the table in order, each text taking "=N" or the previous value plus one.
template <class F>
bool forEachItem(const EnumeratedInfo* info, F f)
{
    long long value = -1;
    for (unsigned i = 0; i < info->numNames; ++i) {
        const char* text = info->names[i];
        if (!text)
            continue;
        const char* eq = std::strchr(text, '=');
        if (eq) {
            value = std::strtoll(eq + 1, nullptr, 10);
        } else {
            ++value;
        }
        std::string_view name(text, eq ? size_t(eq - text) : std::strlen(text));
        if (f(Item{name, static_cast<int>(value)}))
            return true;
    }
    return false;
}

}  // namespace

std::string_view ENUMERATED::nameOf(const EnumeratedInfo* info, int value)
{
    std::string_view found;
    forEachItem(info, [&](const Item& item) {
        if (item.value != value)
            return false;
        found = item.name;
        return true;
    });
    return found;
}

std::string_view ENUMERATED::getName() const { return nameOf(info(), value_); }

bool ENUMERATED::setFromName(std::string_view name)
{
    int value = 0;
    bool found = forEachItem(info(), [&](const Item& item) {
        if (item.name != name)
            return false;
        value = item.value;
        return true;
    });
    value_ = found ? value : getMaximum() + 1;
    return found;
}

int ENUMERATED::do_compare(const AbstractData& other) const
{
    int o = boost::polymorphic_downcast<const ENUMERATED*>(&other)->value_;
    return value_ < o ? -1 : (value_ > o ? 1 : 0);
}

AbstractData* ENUMERATED::do_clone() const
{
    auto* copy = boost::polymorphic_downcast<ENUMERATED*>(createFrom(infoRecord()));
    copy->value_ = value_;
    return copy;
}

bool ENUMERATED::do_accept(Visitor& v) { return v.do_visit(*this); }
bool ENUMERATED::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

}  // namespace ASN1
