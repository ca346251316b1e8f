// Aligned PER decoder: fills a value tree from untrusted octets. Every read is bounded by the
// end of the input; a value that cannot be read fails the decode, and one decode creates at
// most MaximumDecodeNodes values nested at most MaximumDepth deep.
#pragma once

#include "asn1/DecodeBudget.h"
#include "asn1/Visitor.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ASN1 {

class CoderEnv;
struct ConstrainedInfo;

class PERDecoder final : public Visitor {
public:
    // Deepest nesting of values one decode follows.
    static constexpr unsigned MaximumDepth = 64;

    // A saved position: octet offset and bits left in that octet.
    struct memento_type {
        size_t pos;
        uint16_t bitsLeft;
    };

    // env: handed on to the decoders of kept open-type octets (null: keep them undecoded).
    PERDecoder(const char* first, const char* last, const CoderEnv* env = nullptr, bool aligned = true);

    const CoderEnv* env() const { return env_; }

    bool atEnd() const { return pos_ >= end_; }
    // False at the end of the input.
    bool decodeSingleBit(bool& bit)
    {
        if (pos_ >= end_)
            return false;
        --bitsLeft_;
        bit = (data_[pos_] >> bitsLeft_) & 1;
        if (bitsLeft_ == 0) {
            ++pos_;
            bitsLeft_ = 8;
        }
        return true;
    }
    // False when n > 32 or fewer than n bits are left; n = 0 gives 0.
    bool decodeMultiBit(unsigned n, uint32_t& value)
    {
        // Most fields lie within the current octet.
        if (n - 1 < bitsLeft_ && pos_ < end_) {
            bitsLeft_ = static_cast<uint16_t>(bitsLeft_ - n);
            value = (data_[pos_] >> bitsLeft_) & ((1u << n) - 1);
            if (bitsLeft_ == 0) {
                ++pos_;
                bitsLeft_ = 8;
            }
            return true;
        }
        return decodeMultiBitSpanning(n, value);
    }
    // n bits into bytes: whole bytes first, then the remaining bits at the top of the last one.
    bool decodeBitMap(std::vector<char>& bytes, unsigned n);
    void byteAlign();
    size_t getBitsLeft() const;
    // Octets left after aligning.
    size_t octetsLeft() const;
    memento_type getPosition() const { return {pos_, bitsLeft_}; }
    // Moves to octet offset p (limited to the end), at an octet boundary.
    void setPosition(size_t p);
    // Aligns and copies the lesser of n and the octets left; returns the count copied.
    size_t decodeBlock(char* dest, size_t n);
    bool decodeSmallUnsigned(uint32_t& n);
    // 0 on success, -1 on failure; the result is not checked against hi.
    int decodeUnsigned(uint32_t lo, uint32_t hi, uint32_t& value)
    {
        const uint32_t range = hi - lo;
        if (range - 1 < 254) {  // 2..255 values, the common case: a bit field of its own width
            uint32_t field;
            if (!decodeMultiBit(32u - static_cast<unsigned>(__builtin_clz(range)), field))
                return -1;
            value = field + lo;
            return 0;
        }
        return decodeUnsignedOther(lo, hi, value);
    }
    int decodeLength(uint32_t lo, uint32_t hi, uint32_t& len);
    int decodeConstrainedLength(const ConstrainedInfo& info, uint32_t& len);
    // Reads a CHOICE's extension bit and index and selects the alternative; for an extension
    // alternative `bound` receives the end offset of its open type (0 otherwise).
    bool decodeChoicePreamle(CHOICE& choice, size_t& bound);

    VX_ASN1_VISITOR_OVERRIDES;
    bool visit(SEQUENCE& seq) override;
    int preVisitExtensionRoots(SEQUENCE& seq) override;
    int visitExtensionRoot(SEQUENCE& seq, int index, int optionalId) override;
    int preVisitExtensions(SEQUENCE& seq) override;
    int visitKnownExtension(SEQUENCE& seq, int index, int optionalId) override;
    bool visitUnknownExtensions(SEQUENCE& seq) override;

private:
    // decodeUnsigned for one value or more than 255.
    int decodeUnsignedOther(uint32_t lo, uint32_t hi, uint32_t& value);
    // decodeMultiBit for a field that runs past the current octet (or n = 0).
    bool decodeMultiBitSpanning(unsigned n, uint32_t& value);
    // Decodes value within the next len octets (an open type's contents) and moves past them.
    bool decodeBounded(AbstractData& value, size_t len);
    // Decodes a component value, one level deeper.
    bool decodeNested(AbstractData& value);
    bool readUnconstrainedWhole(uint32_t& bits, unsigned& octets);

    const CoderEnv* env_;
    const unsigned char* data_;
    size_t pos_;
    size_t end_;
    uint16_t bitsLeft_;  // bits not yet read in the current octet; 8 at a boundary
    bool aligned_;
    DecodeBudget budget_;
    unsigned depth_;
};

}  // namespace ASN1
