// ASN.1 ENUMERATED: a 32-bit value named through its record's names table.
#pragma once

#include "asn1/AbstractData.h"

#include <string_view>

namespace ASN1 {

class ENUMERATED : public AbstractData, public detail::Allocator<ENUMERATED> {
public:
    explicit ENUMERATED(const void* info) : AbstractData(info) {}
    ENUMERATED(const ENUMERATED&) = default;
    // Copies the value only; the target keeps its record.
    ENUMERATED& operator=(const ENUMERATED& o) { value_ = o.value_; return *this; }

    const EnumeratedInfo* info() const { return static_cast<const EnumeratedInfo*>(infoRecord()); }

    int asInt() const { return value_; }
    int getValue() const { return value_; }
    void setFromInt(int v) { value_ = v; }
    void setValue(int v) { value_ = v; }

    int getMaximum() const { return info()->maxEnumValue; }
    bool extendable() const { return info()->extendable; }
    bool isStrictlyValid() const { return value_ <= getMaximum(); }

    // The name of the current value (without any "=N"); empty (null data) when unnamed.
    std::string_view getName() const;
    // The value of the first item named `name`; on failure the value becomes maximum + 1.
    bool setFromName(std::string_view name);

    // Looks a value up in a names table (see Info.h); empty when unnamed.
    static std::string_view nameOf(const EnumeratedInfo* info, int value);

public:
    int do_compare(const AbstractData& other) const override;

protected:
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;

private:
    int value_ = 0;
};

}  // namespace ASN1
