// Base of the values whose record carries a constraint kind and two bounds.
#pragma once

#include "asn1/AbstractData.h"

namespace ASN1 {

class ConstrainedObject : public AbstractData {
public:
    const ConstrainedInfo* info() const { return static_cast<const ConstrainedInfo*>(infoRecord()); }

protected:
    using AbstractData::AbstractData;
};

}  // namespace ASN1
