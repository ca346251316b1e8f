#include "asn1/AbstractData.h"

#include "asn1/ValidChecker.h"

namespace ASN1 {

unsigned MaximumArraySize = 128;
unsigned MaximumStringSize = 16384;
unsigned MaximumDecodeNodes = 8192;

bool AbstractData::isValid() const
{
    ValidChecker checker;
    return accept(checker);
}

bool AbstractData::isStrictlyValid() const
{
    StrictlyValidChecker checker;
    return accept(checker);
}

int lexicographic_compare_bytes(const char* a_begin, const char* a_end, const char* b_begin,
                                const char* b_end)
{
    for (; a_begin != a_end && b_begin != b_end; ++a_begin, ++b_begin) {
        int a = static_cast<unsigned char>(*a_begin);
        int b = static_cast<unsigned char>(*b_begin);
        if (a != b)
            return a - b;
    }
    if (a_begin != a_end)
        return 1;
    if (b_begin != b_end)
        return -1;
    return 0;
}

}  // namespace ASN1
