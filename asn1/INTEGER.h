// ASN.1 INTEGER: a 32-bit signed value (or an unsigned 32-bit word carried whole), its named-number
// form and the typed range template.
#pragma once

#include "asn1/ConstrainedObject.h"

#include <cstdint>
#include <string>

namespace ASN1 {

class INTEGER : public ConstrainedObject, public detail::Allocator<INTEGER> {
public:
    typedef int value_type;
    static const ConstrainedInfo theInfo;

    explicit INTEGER(const void* info = &theInfo) : ConstrainedObject(info) {}
    INTEGER(int v, const void* info = &theInfo) : ConstrainedObject(info), value_(v) {}
    INTEGER(const INTEGER&) = default;
    INTEGER& operator=(const INTEGER& o) { value_ = o.value_; return *this; }
    INTEGER& operator=(int v) { value_ = v; return *this; }

    // The value as a signed 32-bit number (an unsigned word above INT32_MAX wraps).
    int getValue() const { return static_cast<int>(value_); }
    void setValue(int v) { value_ = v; }
    operator int() const { return getValue(); }
    // An unsigned 32-bit word (a counter the board keeps), carried whole: an unconstrained
    // INTEGER of 2^31 or more is written positive, in five octets.
    void setUnsigned(uint32_t v) { value_ = v; }
    // The number itself: what setValue or setUnsigned stored.
    int64_t getNumber() const { return value_; }

    // Within the record's bounds (unsigned compare unless the lower bound is negative).
    bool isStrictValid() const;

public:
    int do_compare(const AbstractData& other) const override;

protected:
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;

    int64_t value_ = 0;  // a signed 32-bit value, or an unsigned word from setUnsigned
};

class IntegerWithNamedNumber : public INTEGER, public detail::Allocator<IntegerWithNamedNumber> {
public:
    typedef ASN1::NameEntry NameEntry;

    explicit IntegerWithNamedNumber(const void* info) : INTEGER(info) {}
    IntegerWithNamedNumber(int v, const void* info) : INTEGER(v, info) {}
    using INTEGER::operator=;

    const NamedNumberInfo* info() const { return static_cast<const NamedNumberInfo*>(infoRecord()); }
    // The name of the current value; false when it has none.
    bool getName(std::string& name) const;
    // Sets the value named `name`; false (value unchanged) when no entry has that name.
    bool setFromName(const std::string& name);

protected:
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;
};

// INTEGER with its range in the type (INTEGER (0..1023) is
// Constrained_INTEGER<FixedConstraint, 0, 1023u>).
template <ConstraintType C, int lower, unsigned upper>
class Constrained_INTEGER : public INTEGER {
public:
    static constexpr ConstrainedInfo theInfo = {
        {&createAs<Constrained_INTEGER>, 2}, C, lower, upper};

    explicit Constrained_INTEGER(const void* info = &theInfo) : INTEGER(info) {}
    Constrained_INTEGER(unsigned v) : INTEGER(static_cast<int>(v), &theInfo) {}
    Constrained_INTEGER(int v) : INTEGER(v, &theInfo) {}
    Constrained_INTEGER& operator=(unsigned v) { value_ = static_cast<int>(v); return *this; }

    unsigned getValue() const { return static_cast<unsigned>(value_); }
};

}  // namespace ASN1
