#include "asn1/PEREncoder.h"

#include "asn1/ASN1.h"
#include "asn1/SequenceWalk.h"

#include <algorithm>
#include <cstdint>

namespace ASN1 {

namespace {

constexpr uint32_t NoUpperBound = 0x7FFFFFFF;

unsigned octetsFor(uint32_t offset)
{
    return offset == 0 ? 1 : (CountBits(offset + 1) + 7) / 8;
}

// Octets of the shortest two's complement form of v: up to four for a signed 32-bit value,
// five for an unsigned word of 2^31 or more.
unsigned signedOctets(int64_t v)
{
    if (v > INT32_MAX)
        return 5;
    uint32_t u = static_cast<uint32_t>(v);
    if (v == 0)
        return 1;
    if (v > 0)
        return (CountBits(u + 1) + 1 + 7) / 8;
    return (CountBits(0u - u) + 1 + 7) / 8;
}

}  // namespace

void PEREncoder::encodeMultiBitSpanning(uint32_t value, unsigned n)
{
    if (n == 0)
        return;
    if (n > 32)
        n = 32;
    if (n < 32)
        value &= (1u << n) - 1;
    // Shifts only: the octets are the same whatever the byte order of the machine.
    std::vector<char>& out = *out_;
    if (freeBits_ < 8) {  // the top bits complete the partial last octet
        n -= freeBits_;
        out.back() = static_cast<char>(out.back() | (value >> n));
        value &= (1u << n) - 1;  // n < 32 here
    }
    // Whole octets, most significant first, then the rest at the top of a new octet.
    while (n >= 8) {
        n -= 8;
        out.push_back(static_cast<char>(value >> n));
    }
    if (n > 0) {
        out.push_back(static_cast<char>(value << (8 - n)));
        freeBits_ = static_cast<uint16_t>(8 - n);
    } else {
        freeBits_ = 8;
    }
}

void PEREncoder::encodeBitMap(const unsigned char* bytes, unsigned n)
{
    unsigned i = 0;
    for (; n >= 8; n -= 8)
        encodeMultiBit(bytes[i++], 8);
    if (n > 0)
        encodeMultiBit(bytes[i] >> (8 - n), n);
}

void PEREncoder::encodeBitMap(const std::vector<char>& bytes, unsigned n)
{
    encodeBitMap(reinterpret_cast<const unsigned char*>(bytes.data()), n);
}

void PEREncoder::encodeBlock(const char* bytes, unsigned n)
{
    if (n == 0)
        return;
    if (aligned_)
        align();
    if (freeBits_ == 8) {
        out_->insert(out_->end(), bytes, bytes + n);
        return;
    }
    for (unsigned i = 0; i < n; ++i)
        encodeMultiBit(static_cast<unsigned char>(bytes[i]), 8);
}

void PEREncoder::encodeSmallUnsigned(uint32_t n)
{
    if (n <= 63) {
        encodeMultiBit(n, 7);
        return;
    }
    encodeSingleBit(true);
    unsigned k = n < 0x100 ? 1 : n < 0x10000 ? 2 : n <= 0xFFFFFF ? 3 : 4;
    encodeLength(k, 0, NoUpperBound);
    if (aligned_)
        align();
    encodeMultiBit(n, 8 * k);
}

bool PEREncoder::encodeUnsignedOther(uint32_t value, uint32_t lo, uint32_t hi)
{
    uint32_t range = hi - lo;  // number of values minus one, modulo 2^32
    uint32_t offset = value - lo;
    if (offset > range)
        return false;
    if (range == 0)
        return true;
    unsigned bits = CountBits(range + 1);
    if (range <= 254 || !aligned_) {
        encodeMultiBit(offset, bits);
    } else if (range == 255) {
        align();
        encodeMultiBit(offset, 8);
    } else if (range <= 65535) {
        align();
        encodeMultiBit(offset, 16);
    } else {
        unsigned k = octetsFor(offset);
        if (!encodeLength(k, 1, (bits + 7) / 8))
            return false;
        align();
        encodeMultiBit(offset, 8 * k);
    }
    return true;
}

bool PEREncoder::encodeLength(uint32_t len, uint32_t lo, uint32_t hi)
{
    if (len < lo || len > hi)
        return false;
    if (hi <= 65535)
        return encodeUnsigned(len, lo, hi);
    if (len > MaximumUnfragmentedLength)
        return false;
    if (aligned_)
        align();
    if (len <= 127)
        encodeMultiBit(len, 8);
    else
        encodeMultiBit(0x8000 | len, 16);
    return true;
}

bool PEREncoder::encodeConstraint(const ConstrainedInfo& info, int value)
{
    if (info.constraint == ExtendableConstraint) {
        bool outside;
        if (info.lowerLimit < 0)
            outside = value < info.lowerLimit || int64_t(value) > int64_t(info.upperLimit);
        else
            outside = static_cast<uint32_t>(value) < static_cast<uint32_t>(info.lowerLimit) ||
                      static_cast<uint32_t>(value) > info.upperLimit;
        encodeSingleBit(outside);
        return outside;
    }
    return info.constraint != FixedConstraint;
}

bool PEREncoder::encodeConstrainedLength(const ConstrainedInfo& info, uint32_t len)
{
    uint32_t lo = static_cast<uint32_t>(info.lowerLimit);
    switch (info.constraint) {
    case ExtendableConstraint: {
        bool outside = len < lo || len > info.upperLimit;
        encodeSingleBit(outside);
        return outside ? encodeLength(len, 0, NoUpperBound) : encodeLength(len, lo, info.upperLimit);
    }
    case FixedConstraint:
        return encodeLength(len, lo, info.upperLimit);
    default:
        return encodeLength(len, 0, NoUpperBound);
    }
}

bool PEREncoder::encodeOpenBytes(const char* bytes, unsigned n)
{
    static const char zero = 0;
    if (n == 0) {  // an open type is never empty
        bytes = &zero;
        n = 1;
    }
    if (!encodeLength(n, 0, NoUpperBound))
        return false;
    encodeBlock(bytes, n);
    return true;
}

bool PEREncoder::encodeAnyType(const AbstractData* value)
{
    std::vector<char> inner;
    inner.reserve(256);
    if (value) {
        PEREncoder sub(inner, aligned_);
        if (!value->accept(sub))
            return false;
    }
    return encodeOpenBytes(inner.data(), static_cast<unsigned>(inner.size()));
}

bool PEREncoder::do_visit(const Null&) { return true; }

bool PEREncoder::do_visit(const BOOLEAN& v)
{
    encodeSingleBit(v.getValue());
    return true;
}

bool PEREncoder::do_visit(const INTEGER& v)
{
    const ConstrainedInfo& info = *v.info();
    int value = v.getValue();
    if (!encodeConstraint(info, value))
        return encodeUnsigned(static_cast<uint32_t>(value), static_cast<uint32_t>(info.lowerLimit),
                              info.upperLimit);
    const int64_t number = v.getNumber();
    unsigned k = signedOctets(number);
    if (!encodeLength(k, 0, NoUpperBound))
        return false;
    if (k > 4) {  // the sign octet of an unsigned word
        encodeMultiBit(0, 8);
        k = 4;
    }
    encodeMultiBit(static_cast<uint32_t>(number), 8 * k);
    return true;
}

bool PEREncoder::do_visit(const ENUMERATED& v)
{
    int value = v.getValue();
    int maximum = v.getMaximum();
    if (v.extendable()) {
        bool beyond = value > maximum;
        encodeSingleBit(beyond);
        if (beyond) {
            // Not the X.691 addition index: value + 1, then the value in 0..value.
            encodeSmallUnsigned(static_cast<uint32_t>(value) + 1);
            return encodeUnsigned(static_cast<uint32_t>(value), 0, static_cast<uint32_t>(value));
        }
    }
    if (value < 0 || value > maximum)
        return false;
    return encodeUnsigned(static_cast<uint32_t>(value), 0, static_cast<uint32_t>(maximum));
}

bool PEREncoder::do_visit(const OBJECT_IDENTIFIER& v)
{
    std::vector<char> contents;
    v.encodeCommon(contents);
    if (contents.size() > 255)
        return false;
    encodeUnsigned(static_cast<uint32_t>(contents.size()), 0, 255);
    encodeBlock(contents.data(), static_cast<unsigned>(contents.size()));
    return true;
}

bool PEREncoder::do_visit(const BIT_STRING& v)
{
    unsigned bits = v.size();
    if (!encodeConstrainedLength(*v.info(), bits))
        return false;
    if (bits == 0)
        return true;
    if (v.getData().size() < (size_t(bits) + 7) / 8)  // octets cut behind the value's back
        return false;
    if (bits > 16)
        encodeBlock(v.getData().data(), (bits + 7) / 8);
    else
        encodeBitMap(v.getData(), bits);
    return true;
}

bool PEREncoder::do_visit(const OCTET_STRING& v)
{
    uint32_t n = static_cast<uint32_t>(v.size());
    if (v.size() > 0xFFFFFFFFu || !encodeConstrainedLength(*v.info(), n))
        return false;
    if (n == 1 || n == 2) {
        for (uint32_t i = 0; i < n; ++i)
            encodeMultiBit(static_cast<unsigned char>(v[i]), 8);
    } else {
        encodeBlock(v.data(), n);
    }
    return true;
}

bool PEREncoder::do_visit(const AbstractString& v)
{
    const StringInfo& info = *v.info();
    if (v.size() > 0xFFFFFFFFu)
        return false;
    uint32_t n = static_cast<uint32_t>(v.size());
    if (!encodeConstrainedLength(info.size, n))
        return false;
    unsigned b = info.alignedBits;
    bool unalignedChars = info.size.constraint != Unconstrained && uint64_t(info.size.upperLimit) * b <= 16;
    if (!unalignedChars) {
        if (b == 8) {
            encodeBlock(v.data(), n);
            return true;
        }
        if (n > 0 && aligned_)
            align();
    }
    bool ownCode = info.canonicalBits <= b && info.canonicalBits > 4;
    const unsigned char* set = reinterpret_cast<const unsigned char*>(info.characterSet);
    for (char ch : static_cast<const std::string&>(v)) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (!v.legalCharacter(ch))
            return false;
        if (ownCode) {
            encodeMultiBit(c, b);
        } else {
            const unsigned char* at = std::lower_bound(set, set + info.characterSetSize, c);
            encodeMultiBit(static_cast<uint32_t>(at - set), b);
        }
    }
    return true;
}

bool PEREncoder::do_visit(const BMPString& v)
{
    const BMPStringInfo& info = *v.info();
    if (v.size() > 0xFFFFFFFFu)
        return false;
    uint32_t n = static_cast<uint32_t>(v.size());
    if (!encodeConstrainedLength(info.size, n))
        return false;
    if (n > 0 && aligned_ && (info.size.constraint == Unconstrained || uint64_t(info.size.upperLimit) * 16 > 16))
        align();
    for (wchar_t c : static_cast<const std::wstring&>(v)) {
        if (!v.legalCharacter(c))  // would not fit its 16-bit field: refused, not cut
            return false;
        encodeMultiBit(static_cast<uint32_t>(c) - info.firstChar, 16);
    }
    return true;
}

bool PEREncoder::do_visit(const CHOICE& v)
{
    const ChoiceInfo& info = *v.info();
    int id = v.getID();
    const AbstractData* value = v.getSelection();
    if (id < 0 || !value)
        return false;
    uint32_t index = static_cast<uint32_t>(id);
    if (info.extendable) {
        bool extension = index >= info.numChoices;
        encodeSingleBit(extension);
        if (extension) {
            encodeSmallUnsigned(index - info.numChoices);
            return encodeAnyType(value);
        }
    }
    if (info.numChoices == 0 || !encodeUnsigned(index, 0, info.numChoices - 1))
        return false;
    return value->accept(*this);
}

bool PEREncoder::do_visit(const OpenData& v)
{
    if (v.has_data())
        return encodeAnyType(v.get_data());
    if (v.has_buf())  // kept octets travel on as they came
        return encodeOpenBytes(v.get_buf()->data(), static_cast<unsigned>(v.get_buf()->size()));
    return encodeAnyType(nullptr);
}

bool PEREncoder::do_visit(const GeneralizedTime& v)
{
    std::string text = v.get();
    if (!encodeLength(static_cast<uint32_t>(text.size()), 0, NoUpperBound))
        return false;
    encodeBlock(text.data(), static_cast<unsigned>(text.size()));
    return true;
}

bool PEREncoder::do_visit(const SEQUENCE_OF_Base& v)
{
    if (v.size() > MaximumArraySize)  // more than any decoder here accepts
        return false;
    if (!encodeConstrainedLength(v.info()->size, v.size()))
        return false;
    for (const AbstractData* e : v)
        if (!e->accept(*this))
            return false;
    return true;
}

bool PEREncoder::visit(const SEQUENCE& seq) { return walkSequence(*this, seq); }

bool PEREncoder::preVisitExtensionRoots(const SEQUENCE& seq)
{
    const SequenceInfo& info = *seq.info();
    if (seq.optionalMap().size() < info.numOptional)
        return false;
    if (info.extendable)
        encodeSingleBit(seq.extensionMap().any());
    encodeBitMap(seq.optionalMap().data(), info.numOptional);
    return true;
}

bool PEREncoder::visitExtensionRoot(const SEQUENCE& seq, int index)
{
    const AbstractData* f = seq.getField(static_cast<unsigned>(index));
    return f && f->accept(*this);
}

bool PEREncoder::preVisitExtensions(const SEQUENCE& seq)
{
    const SEQUENCE::BitMap& map = seq.extensionMap();
    if (!seq.info()->extendable)
        return !map.any();  // additions on a type without a marker cannot be coded
    if (!map.any())
        return true;
    if (map.size() > MaximumArraySize)
        return false;
    // A bit for an addition this schema has no slot for would announce an open type that
    // never follows.
    for (unsigned k = seq.info()->knownExtensions; k < map.size(); ++k)
        if (map[k])
            return false;
    encodeSmallUnsigned(map.size() - 1);
    encodeBitMap(map.data(), map.size());
    return true;
}

bool PEREncoder::visitKnownExtension(const SEQUENCE& seq, int index)
{
    if (!seq.info()->extendable || !seq.extensionMap().any())
        return true;
    const AbstractData* f = seq.getField(static_cast<unsigned>(index));
    return f && encodeAnyType(f);
}

}  // namespace ASN1
