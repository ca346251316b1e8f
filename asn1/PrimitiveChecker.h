// Answers whether a value's BER encoding is primitive (false: constructed), for the BER
// encoder's identifier octet.
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

}  // namespace ASN1
