// ASN.1 BMPString: wide characters within the record's permitted code range.
#pragma once

#include "asn1/ConstrainedObject.h"

#include <string>

namespace ASN1 {

class BMPString : public ConstrainedObject,
                  public std::wstring,
                  public detail::Allocator<BMPString> {
public:
    static const BMPStringInfo theInfo;
    explicit BMPString(const void* info = &theInfo) : ConstrainedObject(info) {}
    BMPString(const std::wstring& s, const void* info = &theInfo) : ConstrainedObject(info), std::wstring(s) {}
    BMPString(const wchar_t* s, const void* info = &theInfo) : ConstrainedObject(info), std::wstring(s) {}
    BMPString(const BMPString&) = default;
    BMPString& operator=(const BMPString& o) { std::wstring::operator=(o); return *this; }
    BMPString& operator=(const std::wstring& s) { std::wstring::operator=(s); return *this; }
    BMPString& operator=(const wchar_t* s) { std::wstring::operator=(s); return *this; }

    const BMPStringInfo* info() const { return static_cast<const BMPStringInfo*>(infoRecord()); }

    bool legalCharacter(wchar_t c) const;
    // Index of the first character outside the permitted range; size() when none.
    size_type first_illegal_at() const;
    bool isValid() const;
    bool isStrictlyValid() const;

public:
    int do_compare(const AbstractData& other) const override;

protected:
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;
};

}  // namespace ASN1
