// The Probe test schema (tools/erlang/Probe.asn1) as hand-written info records and classes,
// in the shape the generated schema tables take. Shared by the unit tests, the PER fuzz
// target and the PER benchmark.
#pragma once

#include "asn1/ASN1.h"

namespace Probe {

using ASN1::FixedConstraint;
template <int lo, unsigned hi>
using Range = ASN1::Constrained_INTEGER<FixedConstraint, lo, hi>;

class Colour : public ASN1::ENUMERATED {
public:
    enum NamedNumber { red, green, blue };
    static const ASN1::EnumeratedInfo theInfo;
    explicit Colour(const void* info = &theInfo) : ENUMERATED(info) {}
};

class Level : public ASN1::ENUMERATED {
public:
    enum NamedNumber { low, mid, high };
    static const ASN1::EnumeratedInfo theInfo;
    explicit Level(const void* info = &theInfo) : ENUMERATED(info) {}
};

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

class Pick : public ASN1::CHOICE {
public:
    enum { none, num, text };
    static const ASN1::ChoiceInfo theInfo;
    explicit Pick(const void* info = &theInfo) : CHOICE(info) {}
};

class ExtPick : public ASN1::CHOICE {
public:
    enum { a, b, c, d };
    static const ASN1::ChoiceInfo theInfo;
    explicit ExtPick(const void* info = &theInfo) : CHOICE(info) {}
};

class Numbers : public ASN1::SEQUENCE {
public:
    static const ASN1::SequenceInfo theInfo;
    explicit Numbers(const void* info = &theInfo) : SEQUENCE(info) {}
};

class Texts : public ASN1::SEQUENCE {
public:
    static const ASN1::StringInfo codeInfo;  // IA5String (SIZE (2))
    static const ASN1::SequenceInfo theInfo;
    explicit Texts(const void* info = &theInfo) : SEQUENCE(info) {}
};

class Lists : public ASN1::SEQUENCE {
public:
    typedef ASN1::SEQUENCE_OF<ASN1::INTEGER> Ints;
    typedef ASN1::SEQUENCE_OF<ASN1::BOOLEAN, ASN1::SizeConstraint<FixedConstraint, 1, 4>> Few;
    typedef ASN1::SEQUENCE_OF<ASN1::IA5String> Names;
    static const ASN1::SequenceInfo theInfo;
    explicit Lists(const void* info = &theInfo) : SEQUENCE(info) {}
    Ints& get_ints() { return field<Ints>(0); }
    Few& get_few() { return field<Few>(1); }
    Names& get_names() { return field<Names>(2); }
};

class Message : public ASN1::SEQUENCE {
public:
    enum { flag, colour, level, inner, pick, ext, nul, added1, added2 };
    static const ASN1::SequenceInfo theInfo;
    explicit Message(const void* info = &theInfo) : SEQUENCE(info) {}
};

namespace detail {
inline const char* const colourNames[] = {"red", "green", "blue"};
inline const char* const levelNames[] = {"low", "mid", "high"};
inline const void* const innerFields[] = {&ASN1::BOOLEAN::theInfo, &Range<0, 7>::theInfo};
inline const int innerIds[] = {-1, -1};
inline const char* const innerNames[] = {"flag", "count"};
inline const void* const pickAlts[] = {&ASN1::Null::theInfo, &ASN1::INTEGER::theInfo, &ASN1::IA5String::theInfo};
inline const char* const pickNames[] = {"none", "num", "text"};
inline const void* const extPickAlts[] = {&Range<0, 255>::theInfo, &ASN1::BOOLEAN::theInfo,
                                          &ASN1::IA5String::theInfo, &Inner::theInfo};
inline const char* const extPickNames[] = {"a", "b", "c", "d"};
inline const void* const numbersFields[] = {
    &ASN1::INTEGER::theInfo,     &Range<0, 7>::theInfo,           &Range<0, 255>::theInfo,
    &Range<0, 65535>::theInfo,   &Range<0, 1023>::theInfo,        &Range<0, 4294967295u>::theInfo,
    &Range<-128, 127>::theInfo,  &Range<5, 5>::theInfo,           &Range<-100000, 100000>::theInfo};
inline const int numbersIds[] = {0, -1, -1, -1, -1, -1, -1, -1, -1};
inline const char* const numbersNames[] = {"seq", "small", "byte", "word", "slot", "big", "neg", "fixed", "wide"};
inline const void* const textsFields[] = {
    &ASN1::OCTET_STRING::theInfo,  &ASN1::IA5String::theInfo,  &Texts::codeInfo,
    &ASN1::NumericString::theInfo, &ASN1::PrintableString::theInfo, &ASN1::BMPString::theInfo,
    &ASN1::BIT_STRING::theInfo,    &ASN1::GeneralizedTime::theInfo, &ASN1::OBJECT_IDENTIFIER::theInfo};
inline const int textsIds[] = {-1, -1, -1, -1, -1, -1, -1, -1, -1};
inline const char* const textsNames[] = {"octets", "name", "code", "digits", "label", "wide", "bits", "when", "oid"};
inline const void* const listsFields[] = {&Lists::Ints::theInfo, &Lists::Few::theInfo, &Lists::Names::theInfo};
inline const int listsIds[] = {-1, -1, -1};
inline const char* const listsNames[] = {"ints", "few", "names"};
inline const void* const messageFields[] = {
    &ASN1::BOOLEAN::theInfo, &Colour::theInfo, &Level::theInfo, &Inner::theInfo, &Pick::theInfo,
    &ExtPick::theInfo,       &ASN1::Null::theInfo, &ASN1::INTEGER::theInfo, &ASN1::IA5String::theInfo};
inline const int messageIds[] = {-1, -1, -1, 0, -1, -1, -1};
inline const char* const messageNames[] = {"flag", "colour", "level", "inner", "pick", "ext", "nul", "added1", "added2"};
}  // namespace detail

constinit inline const ASN1::EnumeratedInfo Colour::theInfo = {
    {&ASN1::createAs<Colour>, 10}, false, 2, detail::colourNames, 3};
constinit inline const ASN1::EnumeratedInfo Level::theInfo = {
    {&ASN1::createAs<Level>, 10}, true, 2, detail::levelNames, 3};
constinit inline const ASN1::SequenceInfo Inner::theInfo = {
    {&ASN1::createAs<Inner>, 16}, false, detail::innerFields, detail::innerIds, 2, 0, 0, nullptr, nullptr, detail::innerNames};
constinit inline const ASN1::ChoiceInfo Pick::theInfo = {
    {&ASN1::createAs<Pick>, 0}, false, detail::pickAlts, 3, 3, nullptr, detail::pickNames};
constinit inline const ASN1::ChoiceInfo ExtPick::theInfo = {
    {&ASN1::createAs<ExtPick>, 0}, true, detail::extPickAlts, 2, 4, nullptr, detail::extPickNames};
constinit inline const ASN1::SequenceInfo Numbers::theInfo = {
    {&ASN1::createAs<Numbers>, 16}, false, detail::numbersFields, detail::numbersIds, 9, 0, 1, nullptr, nullptr, detail::numbersNames};
constinit inline const ASN1::StringInfo Texts::codeInfo = {
    {{&ASN1::createAs<ASN1::IA5String>, 22}, FixedConstraint, 2, 2}, ASN1::IA5StringSet, 128, 7, 7, 8};
constinit inline const ASN1::SequenceInfo Texts::theInfo = {
    {&ASN1::createAs<Texts>, 16}, false, detail::textsFields, detail::textsIds, 9, 0, 0, nullptr, nullptr, detail::textsNames};
constinit inline const ASN1::SequenceInfo Lists::theInfo = {
    {&ASN1::createAs<Lists>, 16}, false, detail::listsFields, detail::listsIds, 3, 0, 0, nullptr, nullptr, detail::listsNames};
constinit inline const ASN1::SequenceInfo Message::theInfo = {
    {&ASN1::createAs<Message>, 16}, true, detail::messageFields, detail::messageIds, 7, 2, 1, nullptr, nullptr, detail::messageNames};

}  // namespace Probe
