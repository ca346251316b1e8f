// Info records: the constant per-type tables that drive every generic ASN.1 algorithm.
//
// How a generated schema type declares itself (example: a SEQUENCE named LGCP::Message):
//
//   // header
//   namespace LGCP {
//   class Message : public ASN1::SEQUENCE {
//   public:
//     static const ASN1::SequenceInfo theInfo;
//     explicit Message(const void* info = &theInfo) : ASN1::SEQUENCE(info) {}
//     ASN1::INTEGER& get_seq() { return field<ASN1::INTEGER>(0); }   // typed accessors
//   };
//   }
//   // source
//   namespace { const void* const Message_fields[] = {&ASN1::INTEGER::theInfo, ...}; ... }
//   constinit const ASN1::SequenceInfo LGCP::Message::theInfo = {
//       {&ASN1::createAs<LGCP::Message>, 16}, false, Message_fields, Message_ids,
//       3, 0, 2, nullptr, nullptr, Message_names};
//
// Rules:
// - `create` of a schema record is always `&ASN1::createAs<TheSchemaClass>`, so a value made
//   from the record is an object of the schema class and downcasts to it are sound. The class
//   therefore needs a constructor taking `const void* info`.
// - Records are aggregates of constants (constant-initialised, no start-up code); tables of
//   records hold `const void*` to the records (`&X::theInfo`).
// - Every record kind is standard-layout and starts with its head (or a record that starts
//   with it), so a record reached through `const void*` can be read as a `TypeInfo`.
// - A runtime class used directly for a field (ASN1::INTEGER, ASN1::IA5String, ...) is named by
//   its own `theInfo`; INTEGER (a..b) is `ASN1::Constrained_INTEGER<ASN1::FixedConstraint, a, b>`,
//   SEQUENCE OF T is `ASN1::SEQUENCE_OF<T, ASN1::EmptyConstraint>` (SET OF: `ASN1::SET_OF`); their
//   records are template statics and need nothing from the generator.
// - A subtype of a string or OCTET STRING (for example IA5String (SIZE (1..64))) is a record of
//   the base kind with its own bounds whose `create` builds the runtime class
//   (`&ASN1::createAs<ASN1::IA5String>`), or a schema class derived from it.
// - ENUMERATED names: one text per item in schema order; "name=N" gives the item the value N,
//   other texts count on from the previous one (the first from 0). `numNames` is the count.
// - Nothing else is needed from a schema class: comparison, cloning (through the record's
//   `create`, so a clone keeps the schema class) and coding are generic. Typed access goes
//   through SEQUENCE::field<T>(slot) and CHOICE::selection<T>() (both checked downcasts).
#pragma once

#include <cstdint>

namespace ASN1 {

class AbstractData;

// Factory of a record: builds a new value of the record's type, owned by the caller.
using CreateFun = AbstractData* (*)(const void* info);

template <class T>
AbstractData* createAs(const void* info)
{
    return new T(info);
}

// How the bounds of an INTEGER or of a size are to be read.
enum ConstraintType : int {
    Unconstrained = 0,         // bounds ignored
    FixedConstraint = 2,       // bounds are hard limits
    ExtendableConstraint = 3,  // bounds are the root of an extensible constraint
};

// Tag word: BER class bits (0x00, 0x40, 0x80, 0xC0) in bits 16..23, tag number in bits 0..15.
constexpr unsigned contextTag(unsigned n) { return n | 0x800000u; }

struct TypeInfo {
    CreateFun create;
    unsigned tag;
};

// INTEGER, BIT STRING, OCTET STRING; the first part of every size-constrained record.
struct ConstrainedInfo {
    TypeInfo head;
    int constraint;       // ConstraintType
    int lowerLimit;       // signed for INTEGER, a size otherwise
    unsigned upperLimit;  // 0xFFFFFFFF = none
};

struct NameEntry {
    int value;
    const char* name;
};

struct NamedNumberInfo {
    ConstrainedInfo integer;
    const NameEntry* namedNumbers;  // ascending by value
    unsigned numNamedNumbers;
};

struct SequenceOfInfo {
    ConstrainedInfo size;  // bounds of the element count
    const void* elementInfo;
};

struct StringInfo {
    ConstrainedInfo size;      // size bounds in characters
    const char* characterSet;  // permitted characters, ascending unsigned code order
    unsigned characterSetSize;
    unsigned canonicalBits;
    unsigned unalignedBits;
    unsigned alignedBits;
};

struct BMPStringInfo {
    ConstrainedInfo size;
    unsigned firstChar;
    unsigned lastChar;
    unsigned unalignedBits;
    unsigned alignedBits;
};

struct EnumeratedInfo {
    TypeInfo head;
    bool extendable;
    int maxEnumValue;         // largest root value
    const char* const* names; // see the rules above
    unsigned numNames;
};

struct ChoiceInfo {
    TypeInfo head;
    bool extendable;
    const void* const* selectionInfos;  // one record per alternative
    unsigned numChoices;                 // root alternatives
    unsigned totalChoices;               // root plus known extension alternatives
    const unsigned* tags;                // null: automatic tagging
    const char* const* selectionNames;
};

struct SequenceInfo {
    TypeInfo head;
    bool extendable;
    const void* const* fieldInfos;  // root fields, then known extensions
    const int* fieldIds;            // per root field: optional index or -1
    unsigned numFields;             // root fields
    unsigned knownExtensions;
    unsigned numOptional;
    const unsigned char* defaultExtensionBitmap;  // null: no extension present in a new value
    const unsigned* fieldTags;      // null: automatic; &SEQUENCE::defaultTag: own tags
    const char* const* fieldNames;
};

struct OpenInfo {
    TypeInfo head;
    const void* containedInfo;  // TypeConstrainedOpenData only
};

inline const TypeInfo& headOf(const void* info)
{
    return *static_cast<const TypeInfo*>(info);
}

// Builds a value from any record; null when there is no record.
inline AbstractData* createFrom(const void* info)
{
    return info ? headOf(info).create(info) : nullptr;
}

}  // namespace ASN1
