// The number of values one decode may still create, so that a short input cannot grow into a
// huge tree: MaximumDecodeNodes at the start of each decode.
#pragma once

#include "asn1/AbstractData.h"

namespace ASN1 {

class DecodeBudget {
public:
    // A new value of the record's type, counted against the budget; null when the budget is
    // spent or there is no record.
    AbstractData* create(const void* info)
    {
        if (left_ == 0 || !info)
            return nullptr;
        --left_;
        return createFrom(info);
    }

private:
    unsigned left_ = MaximumDecodeNodes;
};

}  // namespace ASN1
