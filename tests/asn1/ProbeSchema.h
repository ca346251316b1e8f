// The Probe test schema (tools/erlang/Probe.asn1) as hand-written info records and classes,
// in the shape the generated schema tables take.
#pragma once

#include "tests/support/Asn1Inner.h"
#include "tests/support/Asn1Records.h"

namespace Probe {

using ASN1::FixedConstraint;
using Asn1Test::Inner;
using Asn1Test::Range;

struct Colour : ASN1::ENUMERATED {
    enum NamedNumber { red, green, blue };
    static const ASN1::EnumeratedInfo theInfo;
    explicit Colour(const void* info = &theInfo) : ENUMERATED(info) {}
};

struct Level : ASN1::ENUMERATED {
    enum NamedNumber { low, mid, high };
    static const ASN1::EnumeratedInfo theInfo;
    explicit Level(const void* info = &theInfo) : ENUMERATED(info) {}
};

struct Pick : ASN1::CHOICE {
    enum { none, num, text };
    static const ASN1::ChoiceInfo theInfo;
    explicit Pick(const void* info = &theInfo) : CHOICE(info) {}
};

struct ExtPick : ASN1::CHOICE {
    enum { a, b, c, d };
    static const ASN1::ChoiceInfo theInfo;
    explicit ExtPick(const void* info = &theInfo) : CHOICE(info) {}
};

struct Numbers : ASN1::SEQUENCE {
    static const ASN1::SequenceInfo theInfo;
    explicit Numbers(const void* info = &theInfo) : SEQUENCE(info) {}
};

struct Texts : ASN1::SEQUENCE {
    static const ASN1::StringInfo codeInfo;  // IA5String (SIZE (2))
    static const ASN1::SequenceInfo theInfo;
    explicit Texts(const void* info = &theInfo) : SEQUENCE(info) {}
};

struct Lists : ASN1::SEQUENCE {
    typedef ASN1::SEQUENCE_OF<ASN1::INTEGER> Ints;
    typedef ASN1::SEQUENCE_OF<ASN1::BOOLEAN, ASN1::SizeConstraint<FixedConstraint, 1, 4>> Few;
    typedef ASN1::SEQUENCE_OF<ASN1::IA5String> Names;
    static const ASN1::SequenceInfo theInfo;
    explicit Lists(const void* info = &theInfo) : SEQUENCE(info) {}
    Ints& get_ints() { return field<Ints>(0); }
    Few& get_few() { return field<Few>(1); }
    Names& get_names() { return field<Names>(2); }
};

struct Message : ASN1::SEQUENCE {
    enum { flag, colour, level, inner, pick, ext, nul, added1, added2 };
    static const ASN1::SequenceInfo theInfo;
    explicit Message(const void* info = &theInfo) : SEQUENCE(info) {}
};

namespace detail {
inline const char* const colourNames[] = {"red", "green", "blue"};
inline const char* const levelNames[] = {"low", "mid", "high"};
inline const void* const pickAlts[] = {&ASN1::Null::theInfo, &ASN1::INTEGER::theInfo, &ASN1::IA5String::theInfo};
inline const char* const pickNames[] = {"none", "num", "text"};
inline const void* const extPickAlts[] = {&Range<0, 255>::theInfo, &ASN1::BOOLEAN::theInfo,
                                          &ASN1::IA5String::theInfo, &Inner::theInfo};
inline const char* const extPickNames[] = {"a", "b", "c", "d"};
inline const void* const numbersFields[] = {
    &ASN1::INTEGER::theInfo,     &Range<0, 7>::theInfo,           &Range<0, 255>::theInfo,
    &Range<0, 65535>::theInfo,   &Range<0, 1023>::theInfo,        &Range<0, 4294967295u>::theInfo,
    &Range<-128, 127>::theInfo,  &Range<5, 5>::theInfo,           &Range<-100000, 100000>::theInfo};
inline constexpr int numbersIds[] = {0, -1, -1, -1, -1, -1, -1, -1, -1};
inline const char* const numbersNames[] = {"seq", "small", "byte", "word", "slot", "big", "neg", "fixed", "wide"};
inline const void* const textsFields[] = {
    &ASN1::OCTET_STRING::theInfo,  &ASN1::IA5String::theInfo,  &Texts::codeInfo,
    &ASN1::NumericString::theInfo, &ASN1::PrintableString::theInfo, &ASN1::BMPString::theInfo,
    &ASN1::BIT_STRING::theInfo,    &ASN1::GeneralizedTime::theInfo, &ASN1::OBJECT_IDENTIFIER::theInfo};
inline constexpr int textsIds[] = {-1, -1, -1, -1, -1, -1, -1, -1, -1};
inline const char* const textsNames[] = {"octets", "name", "code", "digits", "label", "wide", "bits", "when", "oid"};
inline const void* const listsFields[] = {&Lists::Ints::theInfo, &Lists::Few::theInfo, &Lists::Names::theInfo};
inline constexpr int listsIds[] = {-1, -1, -1};
inline const char* const listsNames[] = {"ints", "few", "names"};
inline const void* const messageFields[] = {
    &ASN1::BOOLEAN::theInfo, &Colour::theInfo, &Level::theInfo, &Inner::theInfo, &Pick::theInfo,
    &ExtPick::theInfo,       &ASN1::Null::theInfo, &ASN1::INTEGER::theInfo, &ASN1::IA5String::theInfo};
inline constexpr int messageIds[] = {-1, -1, -1, 0, -1, -1, -1};
inline const char* const messageNames[] = {"flag", "colour", "level", "inner", "pick", "ext", "nul", "added1", "added2"};
}  // namespace detail

using Asn1Test::choiceRecord;
using Asn1Test::enumeratedRecord;
using Asn1Test::sequenceRecord;

constinit inline const ASN1::EnumeratedInfo Colour::theInfo = enumeratedRecord<Colour>(detail::colourNames, 2);
constinit inline const ASN1::EnumeratedInfo Level::theInfo = enumeratedRecord<Level>(detail::levelNames, 2, true);
constinit inline const ASN1::ChoiceInfo Pick::theInfo = choiceRecord<Pick>(detail::pickAlts, detail::pickNames);
constinit inline const ASN1::ChoiceInfo ExtPick::theInfo =
    choiceRecord<ExtPick>(detail::extPickAlts, detail::extPickNames, true, 2);
constinit inline const ASN1::SequenceInfo Numbers::theInfo =
    sequenceRecord<Numbers>(detail::numbersFields, detail::numbersIds, detail::numbersNames);
constinit inline const ASN1::StringInfo Texts::codeInfo = {
    {{&ASN1::createAs<ASN1::IA5String>, 22}, FixedConstraint, 2, 2}, ASN1::IA5StringSet, 128, 7, 7, 8};
constinit inline const ASN1::SequenceInfo Texts::theInfo =
    sequenceRecord<Texts>(detail::textsFields, detail::textsIds, detail::textsNames);
constinit inline const ASN1::SequenceInfo Lists::theInfo =
    sequenceRecord<Lists>(detail::listsFields, detail::listsIds, detail::listsNames);
constinit inline const ASN1::SequenceInfo Message::theInfo =
    sequenceRecord<Message>(detail::messageFields, detail::messageIds, detail::messageNames, true);

}  // namespace Probe
