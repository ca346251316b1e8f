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

    VX_ASN1_CONST_VISITOR_OVERRIDES;
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
