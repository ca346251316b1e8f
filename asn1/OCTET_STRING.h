// ASN.1 OCTET STRING: the value is itself the byte vector.
#pragma once

#include "asn1/ConstrainedObject.h"

#include <string>
#include <vector>

namespace ASN1 {

class OCTET_STRING : public ConstrainedObject,
                     public std::vector<char>,
                     public detail::Allocator<OCTET_STRING> {
public:
    static const ConstrainedInfo theInfo;
    explicit OCTET_STRING(const void* info = &theInfo) : ConstrainedObject(info) {}
    OCTET_STRING(size_type count, char byte, const void* info = &theInfo)
        : ConstrainedObject(info), std::vector<char>(count, byte) {}
    OCTET_STRING(const std::vector<char>& bytes, const void* info = &theInfo)
        : ConstrainedObject(info), std::vector<char>(bytes) {}
    OCTET_STRING(const OCTET_STRING&) = default;
    OCTET_STRING& operator=(const OCTET_STRING& o) { std::vector<char>::operator=(o); return *this; }
    OCTET_STRING& operator=(const std::vector<char>& v) { std::vector<char>::operator=(v); return *this; }
    OCTET_STRING& operator=(const std::string& s) { assign(s.begin(), s.end()); return *this; }

    operator std::string() const { return std::string(begin(), end()); }

public:
    int do_compare(const AbstractData& other) const override;

protected:
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;
};

}  // namespace ASN1
