// Explains the first constraint violation of a value tree as one line: a path of field
// names, alternative names and element indexes, then what is wrong with the leaf.
#pragma once

#include "asn1/Visitor.h"

#include <iosfwd>
#include <sstream>
#include <string>

namespace ASN1 {

struct ConstrainedInfo;

class InvalidTracer : public ConstVisitor {
public:
    // The explanation once a visit has returned false.
    std::string str() const { return text_.str(); }

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

private:
    bool sizeInBounds(const char* what, const ConstrainedInfo& c, unsigned size);

    std::ostringstream text_;
};

// Valid values: writes nothing and returns true. Otherwise writes prefix, the explanation
// and an end of line, and returns false.
bool trace_invalid(std::ostream& os, const char* prefix, const AbstractData& value);

}  // namespace ASN1
