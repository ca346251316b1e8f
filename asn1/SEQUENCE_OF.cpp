#include "asn1/SEQUENCE_OF.h"

#include "asn1/Visitor.h"

#include <memory>

namespace ASN1 {

namespace {

// Clones a range into a fresh container, releasing what was built if a clone throws.
SEQUENCE_OF_Base::Container cloneAll(SEQUENCE_OF_Base::const_iterator first,
                                     SEQUENCE_OF_Base::const_iterator last)
{
    SEQUENCE_OF_Base::Container out;
    try {
        out.reserve(last - first);
        for (; first != last; ++first)
            out.push_back((*first)->clone());
    } catch (...) {
        for (AbstractData* e : out)
            delete e;
        throw;
    }
    return out;
}

}  // namespace

SEQUENCE_OF_Base::SEQUENCE_OF_Base(const SEQUENCE_OF_Base& other)
    : ConstrainedObject(other), container_(cloneAll(other.begin(), other.end()))
{
}

SEQUENCE_OF_Base& SEQUENCE_OF_Base::operator=(const SEQUENCE_OF_Base& other)
{
    if (this != &other) {
        Container fresh = cloneAll(other.begin(), other.end());
        container_.swap(fresh);
        for (AbstractData* e : fresh)
            delete e;
    }
    return *this;
}

void SEQUENCE_OF_Base::clear()
{
    for (AbstractData* e : container_)
        delete e;
    container_.clear();
}

void SEQUENCE_OF_Base::insert(iterator pos, unsigned n, const AbstractData& x)
{
    Container fresh;
    try {
        for (unsigned i = 0; i < n; ++i)
            fresh.push_back(x.clone());
        container_.insert(pos, fresh.begin(), fresh.end());
    } catch (...) {
        for (AbstractData* e : fresh)
            delete e;
        throw;
    }
}

void SEQUENCE_OF_Base::insert(iterator pos, const_iterator first, const_iterator last)
{
    Container fresh = cloneAll(first, last);
    try {
        container_.insert(pos, fresh.begin(), fresh.end());
    } catch (...) {
        for (AbstractData* e : fresh)
            delete e;
        throw;
    }
}

SEQUENCE_OF_Base::iterator SEQUENCE_OF_Base::erase(iterator first, iterator last)
{
    for (iterator it = first; it != last; ++it)
        delete *it;
    return container_.erase(first, last);
}

void SEQUENCE_OF_Base::resize(unsigned n)
{
    if (n < container_.size()) {
        erase(container_.begin() + n, container_.end());
        return;
    }
    container_.reserve(n);
    while (container_.size() < n)
        if (!append_new())
            return;
}

AbstractData* SEQUENCE_OF_Base::append_new()
{
    std::unique_ptr<AbstractData> e(createFrom(info()->elementInfo));
    if (!e)
        return nullptr;
    container_.push_back(e.get());
    return e.release();
}

void SEQUENCE_OF_Base::pop_back()
{
    if (!container_.empty()) {
        delete container_.back();
        container_.pop_back();
    }
}

namespace {

bool countValid(const SEQUENCE_OF_Base& s, bool strict)
{
    const ConstrainedInfo& c = s.info()->size;
    if (s.size() < static_cast<unsigned>(c.lowerLimit))
        return false;
    if ((strict || c.constraint != ExtendableConstraint) && s.size() > c.upperLimit)
        return false;
    for (const AbstractData* e : s)
        if (!(strict ? e->isStrictlyValid() : e->isValid()))
            return false;
    return true;
}

}  // namespace

bool SEQUENCE_OF_Base::isValid() const { return countValid(*this, false); }
bool SEQUENCE_OF_Base::isStrictlyValid() const { return countValid(*this, true); }

int SEQUENCE_OF_Base::do_compare(const AbstractData& otherData) const
{
    const auto& other = *boost::polymorphic_downcast<const SEQUENCE_OF_Base*>(&otherData);
    size_t n = std::min(container_.size(), other.container_.size());
    for (size_t i = 0; i < n; ++i)
        if (int c = container_[i]->compare(*other.container_[i]))
            return c;
    return static_cast<int>(container_.size()) - static_cast<int>(other.container_.size());
}

AbstractData* SEQUENCE_OF_Base::do_clone() const
{
    auto* copy = boost::polymorphic_downcast<SEQUENCE_OF_Base*>(createFrom(infoRecord()));
    *copy = *this;
    return copy;
}

bool SEQUENCE_OF_Base::do_accept(Visitor& v) { return v.do_visit(*this); }
bool SEQUENCE_OF_Base::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

}  // namespace ASN1
