// ASN.1 NULL: a value without content.
#pragma once

#include "asn1/AbstractData.h"

namespace ASN1 {

class Null : public AbstractData, public detail::Allocator<Null> {
public:
    static const TypeInfo theInfo;
    explicit Null(const void* info = &theInfo) : AbstractData(info) {}

public:
    int do_compare(const AbstractData& other) const override;

protected:
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;
};

}  // namespace ASN1
