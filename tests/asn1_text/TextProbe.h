// The TextProbe test schema (tools/erlang/ber_TextProbe.asn1) as hand-written info records
// and classes, in the shape the generated schema tables take.
#pragma once

#include "tests/support/Asn1Inner.h"
#include "tests/support/Asn1Records.h"


namespace TextProbe {

using Asn1Test::Inner;
using Asn1Test::Range;

struct Colour : ASN1::ENUMERATED {
    enum { red, green, blue };
    static const ASN1::EnumeratedInfo theInfo;
    explicit Colour(const void* info = &theInfo) : ENUMERATED(info) {}
};

struct Level : ASN1::ENUMERATED {
    enum { minus = -1, zero, one };
    static const ASN1::EnumeratedInfo theInfo;
    explicit Level(const void* info = &theInfo) : ENUMERATED(info) {}
};

struct Deep : ASN1::CHOICE {
    enum { a, b };
    static const ASN1::ChoiceInfo theInfo;
    explicit Deep(const void* info = &theInfo) : CHOICE(info) {}
};

struct Pick : ASN1::CHOICE {
    enum { none, num, text, inner, deeper };
    static const ASN1::ChoiceInfo theInfo;
    explicit Pick(const void* info = &theInfo) : CHOICE(info) {}
};

struct Numbers : ASN1::SEQUENCE {
    enum { i, u, s, opt, colour, level };
    static const ASN1::SequenceInfo theInfo;
    explicit Numbers(const void* info = &theInfo) : SEQUENCE(info) {}
};

struct Texts : ASN1::SEQUENCE {
    enum { octets, ia5, vis, num, pr, bmp, bits, time, oid };
    static const ASN1::SequenceInfo theInfo;
    explicit Texts(const void* info = &theInfo) : SEQUENCE(info) {}
};

struct Lists : ASN1::SEQUENCE {
    typedef ASN1::SEQUENCE_OF<ASN1::INTEGER> Ints;
    typedef ASN1::SEQUENCE_OF<Inner> Inners;
    typedef ASN1::SEQUENCE_OF<Pick> Picks;
    static const ASN1::SequenceInfo theInfo;
    explicit Lists(const void* info = &theInfo) : SEQUENCE(info) {}
    Ints& ints() { return field<Ints>(0); }
    Inners& inners() { return field<Inners>(1); }
    Picks& picks() { return field<Picks>(2); }
};

struct Empty : ASN1::SEQUENCE {
    static const ASN1::SequenceInfo theInfo;
    explicit Empty(const void* info = &theInfo) : SEQUENCE(info) {}
};

struct Wide : ASN1::CHOICE {
    static const ASN1::ChoiceInfo theInfo;
    explicit Wide(const void* info = &theInfo) : CHOICE(info) {}
};

struct Message : ASN1::SEQUENCE {
    enum { seq, slot, pick, wide, empty, added };
    static const ASN1::SequenceInfo theInfo;
    explicit Message(const void* info = &theInfo) : SEQUENCE(info) {}
    Pick& get_pick() { return field<Pick>(pick); }
    Wide& get_wide() { return field<Wide>(wide); }
};

namespace detail {
inline const char* const colourNames[] = {"red", "green", "blue"};
inline const char* const levelNames[] = {"minus=-1", "zero", "one"};
inline const void* const deepAlts[] = {&ASN1::BOOLEAN::theInfo, &ASN1::OCTET_STRING::theInfo};
inline const char* const deepNames[] = {"a", "b"};
inline const void* const pickAlts[] = {&ASN1::Null::theInfo, &ASN1::INTEGER::theInfo, &ASN1::IA5String::theInfo,
                                       &Inner::theInfo, &Deep::theInfo};
inline const char* const pickNames[] = {"none", "num", "text", "inner", "deeper"};
inline const void* const numbersFields[] = {&ASN1::INTEGER::theInfo, &Range<0, 4294967295u>::theInfo,
                                            &Range<-128, 127>::theInfo, &ASN1::INTEGER::theInfo,
                                            &Colour::theInfo, &Level::theInfo};
inline constexpr int numbersIds[] = {-1, -1, -1, 0, -1, -1};
inline const char* const numbersNames[] = {"i", "u", "s", "opt", "colour", "level"};
inline const void* const textsFields[] = {
    &ASN1::OCTET_STRING::theInfo,    &ASN1::IA5String::theInfo, &ASN1::VisibleString::theInfo,
    &ASN1::NumericString::theInfo,   &ASN1::PrintableString::theInfo, &ASN1::BMPString::theInfo,
    &ASN1::BIT_STRING::theInfo,      &ASN1::GeneralizedTime::theInfo, &ASN1::OBJECT_IDENTIFIER::theInfo};
inline constexpr int textsIds[] = {-1, -1, -1, -1, -1, -1, -1, -1, -1};
inline const char* const textsNames[] = {"octets", "ia5", "vis", "num", "pr", "bmp", "bits", "time", "oid"};
inline const void* const listsFields[] = {&Lists::Ints::theInfo, &Lists::Inners::theInfo, &Lists::Picks::theInfo};
inline constexpr int listsIds[] = {-1, -1, -1};
inline const char* const listsNames[] = {"ints", "inners", "picks"};
#define TEXTPROBE_NULLS4 &ASN1::Null::theInfo, &ASN1::Null::theInfo, &ASN1::Null::theInfo, &ASN1::Null::theInfo
inline const void* const wideAlts[] = {TEXTPROBE_NULLS4, TEXTPROBE_NULLS4, TEXTPROBE_NULLS4, TEXTPROBE_NULLS4,
                                       TEXTPROBE_NULLS4, TEXTPROBE_NULLS4, TEXTPROBE_NULLS4, TEXTPROBE_NULLS4,
                                       &ASN1::INTEGER::theInfo};
#undef TEXTPROBE_NULLS4
inline const char* const wideNames[] = {"a0",  "a1",  "a2",  "a3",  "a4",  "a5",  "a6",  "a7",  "a8",
                                        "a9",  "a10", "a11", "a12", "a13", "a14", "a15", "a16", "a17",
                                        "a18", "a19", "a20", "a21", "a22", "a23", "a24", "a25", "a26",
                                        "a27", "a28", "a29", "a30", "a31", "a32"};
inline const void* const messageFields[] = {&ASN1::INTEGER::theInfo, &Range<0, 1023>::theInfo, &Pick::theInfo,
                                            &Wide::theInfo, &Empty::theInfo, &ASN1::INTEGER::theInfo};
inline constexpr int messageIds[] = {0, 1, -1, -1, -1};
inline const char* const messageNames[] = {"seq", "slot", "pick", "wide", "empty", "added"};
}  // namespace detail

using Asn1Test::choiceRecord;
using Asn1Test::enumeratedRecord;
using Asn1Test::sequenceRecord;

inline const ASN1::EnumeratedInfo Colour::theInfo = enumeratedRecord<Colour>(detail::colourNames, 2, true);
inline const ASN1::EnumeratedInfo Level::theInfo = enumeratedRecord<Level>(detail::levelNames, 1);
inline const ASN1::ChoiceInfo Deep::theInfo = choiceRecord<Deep>(detail::deepAlts, detail::deepNames);
inline const ASN1::ChoiceInfo Pick::theInfo = choiceRecord<Pick>(detail::pickAlts, detail::pickNames);
inline const ASN1::SequenceInfo Numbers::theInfo =
    sequenceRecord<Numbers>(detail::numbersFields, detail::numbersIds, detail::numbersNames);
inline const ASN1::SequenceInfo Texts::theInfo =
    sequenceRecord<Texts>(detail::textsFields, detail::textsIds, detail::textsNames);
inline const ASN1::SequenceInfo Lists::theInfo =
    sequenceRecord<Lists>(detail::listsFields, detail::listsIds, detail::listsNames);
inline const ASN1::SequenceInfo Empty::theInfo = {{&ASN1::createAs<Empty>, 16}, false, nullptr, nullptr, 0, 0, 0,
                                                  nullptr, nullptr, nullptr};
inline const ASN1::ChoiceInfo Wide::theInfo = choiceRecord<Wide>(detail::wideAlts, detail::wideNames);
inline const ASN1::SequenceInfo Message::theInfo =
    sequenceRecord<Message>(detail::messageFields, detail::messageIds, detail::messageNames, true);

}  // namespace TextProbe
