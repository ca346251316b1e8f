// Aligned PER encoder: appends the encoding of a value tree to a byte vector.
#pragma once

#include "asn1/Visitor.h"

#include <cstdint>
#include <vector>

namespace ASN1 {

struct ConstrainedInfo;

// The unconstrained length form has no fragmentation here: 16383 is the longest string,
// octet string or open type it can write.
constexpr uint32_t MaximumUnfragmentedLength = 16383;

class PEREncoder final : public ConstVisitor {
public:
    explicit PEREncoder(std::vector<char>& out, bool aligned = true)
        : out_(&out), freeBits_(8), aligned_(aligned) {}

    void encodeSingleBit(bool bit)
    {
        if (freeBits_ == 8)
            out_->push_back(0);
        --freeBits_;
        if (bit)
            out_->back() = static_cast<char>(out_->back() | (1 << freeBits_));
        if (freeBits_ == 0)
            freeBits_ = 8;
    }
    // The low n bits of value, most significant first (n up to 32).
    void encodeMultiBit(uint32_t value, unsigned n)
    {
        // Most fields fit in what is left of the last octet.
        if (freeBits_ < 8 && n <= freeBits_) {
            freeBits_ = static_cast<uint16_t>(freeBits_ - n);
            out_->back() = static_cast<char>(out_->back() | ((value & ((1u << n) - 1)) << freeBits_));
            if (freeBits_ == 0)
                freeBits_ = 8;
            return;
        }
        encodeMultiBitSpanning(value, n);
    }
    void encodeBitMap(const unsigned char* bytes, unsigned n);
    void encodeBitMap(const std::vector<char>& bytes, unsigned n);
    // Aligns and appends n octets; nothing (and no alignment) when n is 0.
    void encodeBlock(const char* bytes, unsigned n);
    void encodeSmallUnsigned(uint32_t n);
    // Constrained whole number lo..hi, counted modulo 2^32; false when outside.
    bool encodeUnsigned(uint32_t value, uint32_t lo, uint32_t hi)
    {
        const uint32_t range = hi - lo;  // number of values minus one, modulo 2^32
        const uint32_t offset = value - lo;
        if (range - 1 < 254 && offset <= range) {  // 2..255 values: a bit field of its own width
            encodeMultiBit(offset, 32u - static_cast<unsigned>(__builtin_clz(range)));
            return true;
        }
        return encodeUnsignedOther(value, lo, hi);
    }
    // Length determinant; false when outside lo..hi or above 16383 in the unconstrained form.
    bool encodeLength(uint32_t len, uint32_t lo, uint32_t hi);
    // Writes the extension bit of an extendable constraint; true when the value is to be
    // coded as unconstrained.
    bool encodeConstraint(const ConstrainedInfo& info, int value);
    bool encodeConstrainedLength(const ConstrainedInfo& info, uint32_t len);
    // An open type: the value encoded on its own, then its length and octets.
    bool encodeAnyType(const AbstractData* value);
    void align() { freeBits_ = 8; }

    VX_ASN1_CONST_VISITOR_OVERRIDES;
    bool visit(const SEQUENCE& seq) override;
    bool preVisitExtensionRoots(const SEQUENCE& seq) override;
    bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
    bool preVisitExtensions(const SEQUENCE& seq) override;
    bool visitKnownExtension(const SEQUENCE& seq, int index) override;

private:
    // encodeUnsigned for one value, more than 255, or a value outside.
    bool encodeUnsignedOther(uint32_t value, uint32_t lo, uint32_t hi);
    // encodeMultiBit for a field that starts a new octet or runs past the last one.
    void encodeMultiBitSpanning(uint32_t value, unsigned n);
    bool encodeOpenBytes(const char* bytes, unsigned n);

    std::vector<char>* out_;
    uint16_t freeBits_;  // bits still free in the last octet; 8 = start a new octet
    bool aligned_;
};

}  // namespace ASN1
