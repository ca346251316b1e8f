// ASN.1 BOOLEAN.
#pragma once

#include "asn1/AbstractData.h"

namespace ASN1 {

class BOOLEAN : public AbstractData, public detail::Allocator<BOOLEAN> {
public:
    static const TypeInfo theInfo;
    explicit BOOLEAN(const void* info = &theInfo) : AbstractData(info) {}
    BOOLEAN(bool v, const void* info) : AbstractData(info), value_(v) {}
    BOOLEAN& operator=(bool v) { value_ = v; return *this; }

    bool getValue() const { return value_; }
    void setValue(bool v) { value_ = v; }
    operator bool() const { return value_; }

public:
    int do_compare(const AbstractData& other) const override;

protected:
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;

private:
    bool value_ = false;
};

}  // namespace ASN1
