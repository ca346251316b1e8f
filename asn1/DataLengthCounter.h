// Computes BER contents lengths, octet for octet what the BER encoder writes.
#pragma once

#include "asn1/Visitor.h"

#include <cstdint>

namespace ASN1 {

class DataLengthCounter : public ConstVisitor {
public:
    uint32_t getLength() const { return length_; }

    VX_ASN1_CONST_VISITOR_OVERRIDES;
    bool preVisitExtensionRoots(const SEQUENCE& seq) override;
    bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
    bool visitKnownExtension(const SEQUENCE& seq, int index) override;

private:
    uint32_t length_ = 0;
};

// No tag pending: the value's own tag applies.
constexpr int64_t OwnTag = -1;

// Least number of octets holding n in two's complement (1 for 0 and -1, 2 for 128 and -129).
unsigned getIntegerDataLength(int64_t n);
// The number an INTEGER's contents carry: a range with a non-negative lower bound holds
// unsigned numbers, which may need a leading zero octet.
int64_t berIntegerValue(const INTEGER& v);
// Contents length of a value.
uint32_t getDataLength(const AbstractData& value);
// Identifier, length and contents octets of value under tag (OwnTag: the value's own);
// the contents alone when that tag is 0 (an untagged CHOICE or open type).
uint32_t getObjectLength(const AbstractData& value, int64_t tag);
// Octets of the identifier of a tag word, and of the length octets of a contents length.
unsigned identifierLength(uint32_t tag);
unsigned lengthLength(uint32_t length);
// The tag a SEQUENCE field is encoded with.
uint32_t fieldTag(const SEQUENCE& seq, unsigned index);
// The tag a CHOICE alternative is encoded with.
uint32_t alternativeTag(const CHOICE& choice, unsigned index);

}  // namespace ASN1
