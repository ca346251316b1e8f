// ASN.1 CHOICE: the index of the selected alternative and its owned value.
#pragma once

#include "asn1/AbstractData.h"

#include <boost/polymorphic_cast.hpp>

namespace ASN1 {

class CHOICE : public AbstractData, public detail::Allocator<CHOICE> {
public:
    enum { unselected_ = -1, unknownSelection_ = -2 };

    explicit CHOICE(const void* info, int id = -1, AbstractData* value = nullptr)
        : AbstractData(info), value_(value), choiceID_(id) {}
    CHOICE(const CHOICE& other);
    CHOICE& operator=(const CHOICE& other);
    ~CHOICE() override;
    void swap(CHOICE& other);

    const ChoiceInfo* info() const { return static_cast<const ChoiceInfo*>(infoRecord()); }

    int currentSelection() const { return choiceID_; }
    int getID() const { return choiceID_; }
    // Sets the index only; createSelection() builds the value.
    void setID(int id) { choiceID_ = id; }
    AbstractData* getSelection() const { return value_; }
    // Takes ownership of value (may be null), deletes the old one; returns value.
    AbstractData* setSelection(int id, AbstractData* value);
    // Builds a fresh value of the current alternative; false (index -2, no value) when the
    // index names no alternative of the record.
    bool createSelection();

    // The selected value as its schema class; the selection must exist.
    template <class T>
    T& selection() { return *boost::polymorphic_downcast<T*>(value_); }
    template <class T>
    const T& selection() const { return *boost::polymorphic_downcast<const T*>(value_); }

    bool isValid() const;
    bool isStrictlyValid() const;

public:
    int do_compare(const AbstractData& other) const override;

protected:
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;

private:
    AbstractData* value_;
    int choiceID_;
};

}  // namespace ASN1
