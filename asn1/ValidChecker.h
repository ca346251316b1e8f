// Constraint checks of a value tree: ValidChecker lets extendable constraints and extensible
// types pass values beyond the root, StrictlyValidChecker admits root values only.
#pragma once

#include "asn1/Visitor.h"

namespace ASN1 {

class ValidChecker : public ConstVisitor {
public:
    VX_ASN1_CONST_VISITOR_OVERRIDES;
    bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
    bool visitKnownExtension(const SEQUENCE& seq, int index) override;
};

class StrictlyValidChecker : public ConstVisitor {
public:
    VX_ASN1_CONST_VISITOR_OVERRIDES;
    bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
    bool visitKnownExtension(const SEQUENCE& seq, int index) override;
};

}  // namespace ASN1
