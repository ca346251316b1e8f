// BER encoder (definite lengths): writes a value tree as X.690 Basic Encoding Rules octets.
// SEQUENCE fields and CHOICE alternatives take the context tag of their position unless the
// record carries a tag table; a tagged CHOICE or open type is wrapped in an explicit header.
#pragma once

#include "asn1/Visitor.h"

#include <cstdint>
#include <vector>

namespace ASN1 {

class BEREncoder : public ConstVisitor {
public:
    // tag: the tag the first value visited is written with (-1: its own).
    explicit BEREncoder(std::vector<char>& out, int64_t tag = -1) : out_(&out), tag_(tag) {}

    // Identifier and length octets of value, under the pending tag or the value's own.
    bool encodeHeader(const AbstractData& value);

    VX_ASN1_CONST_VISITOR_OVERRIDES;
    bool preVisitExtensionRoots(const SEQUENCE& seq) override;
    bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
    bool visitKnownExtension(const SEQUENCE& seq, int index) override;

private:
    void writeIdentifier(uint32_t tag, bool constructed);
    void writeLength(uint32_t length);
    void writeInteger(int64_t value);
    // Takes the pending tag, or the value's own when none is pending.
    uint32_t takeTag(const AbstractData& value);
    bool encodeTagged(const AbstractData& value, uint32_t tag);
    // A tag on a CHOICE or open type is always explicit: a constructed header around what it
    // holds (nothing when the pending or own tag is 0).
    void encodeExplicitHeader(const AbstractData& value);

    std::vector<char>* out_;
    int64_t tag_;
};

}  // namespace ASN1
