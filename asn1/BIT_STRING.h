// ASN.1 BIT STRING: bit 0 is the most significant bit of the first byte.
#pragma once

#include "asn1/ConstrainedObject.h"

#include <vector>

namespace ASN1 {

class BIT_STRING : public ConstrainedObject, public detail::Allocator<BIT_STRING> {
public:
    static const ConstrainedInfo theInfo;
    explicit BIT_STRING(const void* info = &theInfo) : ConstrainedObject(info) {}

    unsigned size() const { return totalBits_; }
    // New bits are clear; bits beyond a shrunk size are cleared.
    void resize(unsigned bits);
    bool operator[](unsigned n) const;
    void set(unsigned n, bool bit = true);
    const std::vector<char>& getData() const { return bitData_; }
    std::vector<char>& getData() { return bitData_; }

public:
    int do_compare(const AbstractData& other) const override;

protected:
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;

private:
    unsigned totalBits_ = 0;
    std::vector<char> bitData_;
};

}  // namespace ASN1
