#include "asn1/CHOICE.h"

#include "asn1/Visitor.h"

#include <utility>

namespace ASN1 {

CHOICE::CHOICE(const CHOICE& other)
    : AbstractData(other), value_(other.value_ ? other.value_->clone() : nullptr), choiceID_(other.choiceID_)
{
}

CHOICE& CHOICE::operator=(const CHOICE& other)
{
    if (this != &other) {
        CHOICE copy(other);
        swap(copy);
    }
    return *this;
}

CHOICE::~CHOICE() { delete value_; }

void CHOICE::swap(CHOICE& other)
{
    std::swap(value_, other.value_);
    std::swap(choiceID_, other.choiceID_);
}

AbstractData* CHOICE::setSelection(int id, AbstractData* value)
{
    if (value != value_) {
        delete value_;
        value_ = value;
    }
    choiceID_ = id;
    return value;
}

bool CHOICE::createSelection()
{
    const ChoiceInfo* r = info();
    AbstractData* fresh = nullptr;
    if (choiceID_ >= 0 && static_cast<unsigned>(choiceID_) < r->totalChoices)
        fresh = createFrom(r->selectionInfos[choiceID_]);
    delete value_;
    value_ = fresh;
    if (!fresh)
        choiceID_ = unknownSelection_;
    return fresh != nullptr;
}

int CHOICE::do_compare(const AbstractData& otherData) const
{
    const auto& other = *boost::polymorphic_downcast<const CHOICE*>(&otherData);
    if (choiceID_ >= 0 && choiceID_ == other.choiceID_) {
        if (value_ && other.value_)
            return value_->compare(*other.value_);
        return int(value_ != nullptr) - int(other.value_ != nullptr);
    }
    return choiceID_ < other.choiceID_ ? -1 : (choiceID_ > other.choiceID_ ? 1 : 0);
}

AbstractData* CHOICE::do_clone() const
{
    auto* copy = boost::polymorphic_downcast<CHOICE*>(createFrom(infoRecord()));
    *copy = *this;
    return copy;
}

bool CHOICE::do_accept(Visitor& v) { return v.do_visit(*this); }
bool CHOICE::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

bool CHOICE::isValid() const
{
    if (choiceID_ < 0 || !value_)
        return false;
    if (static_cast<unsigned>(choiceID_) >= info()->numChoices && !info()->extendable)
        return false;
    return value_->isValid();
}

bool CHOICE::isStrictlyValid() const
{
    if (choiceID_ < 0 || !value_ || static_cast<unsigned>(choiceID_) >= info()->numChoices)
        return false;
    return value_->isStrictlyValid();
}

}  // namespace ASN1
