// Restricted character strings (one byte per character): AbstractString and the standard
// string types with their permitted character sets.
#pragma once

#include "asn1/ConstrainedObject.h"

#include <string>

namespace ASN1 {

extern const char NumericStringSet[];    // 11: space and the digits
extern const char PrintableStringSet[];  // 74
extern const char VisibleStringSet[];    // 95: codes 32..126
extern const char IA5StringSet[];        // 128: codes 0..127
extern const char GeneralStringSet[];    // 256: codes 0..255

class AbstractString : public ConstrainedObject,
                       public std::string,
                       public detail::Allocator<AbstractString> {
public:
    explicit AbstractString(const void* info) : ConstrainedObject(info) {}
    AbstractString(const void* info, const std::string& s) : ConstrainedObject(info), std::string(s) {}
    AbstractString(const void* info, const char* s) : ConstrainedObject(info), std::string(s) {}
    AbstractString(const AbstractString&) = default;
    AbstractString& operator=(const AbstractString& o) { std::string::operator=(o); return *this; }
    AbstractString& operator=(const std::string& s) { std::string::operator=(s); return *this; }
    AbstractString& operator=(const char* s) { std::string::operator=(s); return *this; }

    const StringInfo* info() const { return static_cast<const StringInfo*>(infoRecord()); }

    // Whether c is in the permitted set (a record without a set permits everything).
    bool legalCharacter(char c) const;
    bool isValid() const;
    bool isStrictlyValid() const;

public:
    int do_compare(const AbstractData& other) const override;

protected:
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;
};

#define VX_ASN1_STRING_TYPE(Name)                                                  \
    class Name : public AbstractString {                                           \
    public:                                                                        \
        static const StringInfo theInfo;                                           \
        explicit Name(const void* info = &theInfo) : AbstractString(info) {}       \
        Name(const std::string& s, const void* info = &theInfo) : AbstractString(info, s) {} \
        Name(const char* s, const void* info = &theInfo) : AbstractString(info, s) {} \
        using AbstractString::operator=;                                           \
    }

VX_ASN1_STRING_TYPE(NumericString);
VX_ASN1_STRING_TYPE(PrintableString);
VX_ASN1_STRING_TYPE(VisibleString);
VX_ASN1_STRING_TYPE(IA5String);
VX_ASN1_STRING_TYPE(GeneralString);

#undef VX_ASN1_STRING_TYPE

}  // namespace ASN1
