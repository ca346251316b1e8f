// ASN.1 OBJECT IDENTIFIER: its arcs, and their BER contents form.
#pragma once

#include "asn1/AbstractData.h"

#include <vector>

namespace ASN1 {

class OBJECT_IDENTIFIER : public AbstractData, public detail::Allocator<OBJECT_IDENTIFIER> {
public:
    static const TypeInfo theInfo;
    explicit OBJECT_IDENTIFIER(const void* info = &theInfo) : AbstractData(info) {}

    std::vector<unsigned>& arcs() { return arcs_; }
    const std::vector<unsigned>& arcs() const { return arcs_; }

    // Contents octets; fewer than two arcs give none.
    void encodeCommon(std::vector<char>& out) const;
    // False when the input ends inside a sub-identifier.
    bool decodeCommon(const char* bytes, unsigned length);

public:
    int do_compare(const AbstractData& other) const override;

protected:
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;

private:
    std::vector<unsigned> arcs_;
};

}  // namespace ASN1
