// Constraint checks of a value tree: ValidChecker lets extendable constraints and extensible
// types pass values beyond the root, StrictlyValidChecker admits root values only.
#pragma once

#include "asn1/Visitor.h"

namespace ASN1 {

class ValidChecker : public ConstVisitor {
public:
    bool do_visit(const Null& v) override;
    bool do_visit(const BOOLEAN& v) override;
    bool do_visit(const INTEGER& v) override;
    bool do_visit(const ENUMERATED& v) override;
    bool do_visit(const OBJECT_IDENTIFIER& v) override;
    bool do_visit(const BIT_STRING& v) override;
    bool do_visit(const OCTET_STRING& v) override;
    bool do_visit(const AbstractString& v) override;
    bool do_visit(const BMPString& v) override;
    bool do_visit(const CHOICE& v) override;
    bool do_visit(const OpenData& v) override;
    bool do_visit(const GeneralizedTime& v) override;
    bool do_visit(const SEQUENCE_OF_Base& v) override;
    bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
    bool visitKnownExtension(const SEQUENCE& seq, int index) override;
};

class StrictlyValidChecker : public ConstVisitor {
public:
    bool do_visit(const Null& v) override;
    bool do_visit(const BOOLEAN& v) override;
    bool do_visit(const INTEGER& v) override;
    bool do_visit(const ENUMERATED& v) override;
    bool do_visit(const OBJECT_IDENTIFIER& v) override;
    bool do_visit(const BIT_STRING& v) override;
    bool do_visit(const OCTET_STRING& v) override;
    bool do_visit(const AbstractString& v) override;
    bool do_visit(const BMPString& v) override;
    bool do_visit(const CHOICE& v) override;
    bool do_visit(const OpenData& v) override;
    bool do_visit(const GeneralizedTime& v) override;
    bool do_visit(const SEQUENCE_OF_Base& v) override;
    bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
    bool visitKnownExtension(const SEQUENCE& seq, int index) override;
};

}  // namespace ASN1
