// Writes a value tree as ASN.1 value notation text: the form every message trace and every
// error line that shows a message carries. SEQUENCE fields stand one per line, indented by
// two columns per level.
#pragma once

#include "asn1/Visitor.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace ASN1 {

class AVNEncoder : public ConstVisitor {
public:
    explicit AVNEncoder(std::ostream& os, int indent = 0) : os_(&os), indent_(indent) {}

    VX_ASN1_CONST_VISITOR_OVERRIDES;
    bool do_visit(const IntegerWithNamedNumber& v) override;
    bool preVisitExtensionRoots(const SEQUENCE& seq) override;
    bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
    bool visitKnownExtension(const SEQUENCE& seq, int index) override;
    bool afterVisitSequence(const SEQUENCE& seq) override;

private:
    bool good() const;
    void blanks(int n);
    void octets(const char* data, size_t n);

    std::ostream* os_;
    int indent_;
    std::vector<bool> written_;  // per SEQUENCE being written: a field was written
};

// Writes bytes as a quoted character string. Text from the wire must not forge log lines:
// a '"' is doubled, and a string holding control characters is written as a character
// string list in which each control character is a {column, row} tuple, e.g.
// {"ab", {0, 10}, "c"}.
void put_string(std::ostream& os, const char* data, size_t n);

}  // namespace ASN1
