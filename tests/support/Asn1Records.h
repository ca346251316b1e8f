// Builders of the info records of hand-written test schemas: the same records the schema
// generator emits, with every count taken from the tables so that none can disagree with them.
#pragma once

#include "asn1/ASN1.h"

#include <cstddef>

namespace Asn1Test {

template <int lo, unsigned hi>
using Range = ASN1::Constrained_INTEGER<ASN1::FixedConstraint, lo, hi>;

// A SEQUENCE of class T: fields holds the root fields, then the known extensions; ids has one
// entry per root field (its optional index, or -1), so the root is as long as ids.
template <class T, std::size_t Fields, std::size_t Root>
constexpr ASN1::SequenceInfo sequenceRecord(const void* const (&fields)[Fields], const int (&ids)[Root],
                                            const char* const (&names)[Fields], bool extendable = false)
{
    static_assert(Root <= Fields);
    unsigned optional = 0;
    for (int id : ids)
        optional += id != -1;
    return {{&ASN1::createAs<T>, 16}, extendable, fields, ids, Root, Fields - Root, optional,
            nullptr, nullptr, names};
}

// A CHOICE of class T with automatic tags; alternatives beyond root are known extensions.
template <class T, std::size_t Total>
constexpr ASN1::ChoiceInfo choiceRecord(const void* const (&alternatives)[Total],
                                        const char* const (&names)[Total], bool extendable = false,
                                        std::size_t root = Total)
{
    return {{&ASN1::createAs<T>, 0}, extendable, alternatives, static_cast<unsigned>(root), Total,
            nullptr, names};
}

// An ENUMERATED of class T; maxRootValue is the largest value of a root item.
template <class T, std::size_t Count>
constexpr ASN1::EnumeratedInfo enumeratedRecord(const char* const (&names)[Count], int maxRootValue,
                                                bool extendable = false)
{
    return {{&ASN1::createAs<T>, 10}, extendable, maxRootValue, names, Count};
}

}  // namespace Asn1Test
