// Answers whether a value's BER encoding is primitive (the constructed bit of its identifier).
#pragma once

#include "asn1/Visitor.h"

namespace ASN1 {

class PrimitiveChecker : public ConstVisitor {
public:
    bool do_visit(const AbstractData& v) override;
    bool do_visit(const CHOICE& v) override;
    bool do_visit(const OpenData& v) override;
    bool do_visit(const SEQUENCE_OF_Base& v) override;
    bool preVisitExtensionRoots(const SEQUENCE& seq) override;
};

// True when value encodes as a primitive BER component.
bool isPrimitive(const AbstractData& value);

}  // namespace ASN1
