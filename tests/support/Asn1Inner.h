// Inner ::= SEQUENCE { flag BOOLEAN, count INTEGER (0..7) }: the type both probe schemas of the
// ASN.1 tests define alike, as one class.
#pragma once

#include "tests/support/Asn1Records.h"

namespace Asn1Test {

class Inner : public ASN1::SEQUENCE {
public:
    static const ASN1::SequenceInfo theInfo;
    explicit Inner(const void* info = &theInfo) : SEQUENCE(info) {}
    Inner(bool flag, unsigned count) : SEQUENCE(&theInfo) { set_flag(flag); set_count(count); }
    ASN1::BOOLEAN& get_flag() { return field<ASN1::BOOLEAN>(0); }
    Range<0, 7>& get_count() { return field<Range<0, 7>>(1); }
    void set_flag(bool v) { get_flag() = v; }
    void set_count(unsigned v) { get_count() = v; }
};

namespace detail {
inline const void* const innerFields[] = {&ASN1::BOOLEAN::theInfo, &Range<0, 7>::theInfo};
inline constexpr int innerIds[] = {-1, -1};
inline const char* const innerNames[] = {"flag", "count"};
}  // namespace detail

constinit inline const ASN1::SequenceInfo Inner::theInfo =
    sequenceRecord<Inner>(detail::innerFields, detail::innerIds, detail::innerNames);

}  // namespace Asn1Test
