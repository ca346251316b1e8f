#include "asn1/PERDecoder.h"
#include "asn1/GeneralizedTimeText.h"

#include "asn1/ASN1.h"
#include "asn1/SequenceWalk.h"

#include <boost/scoped_array.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace ASN1 {

namespace {

constexpr uint32_t NoUpperBound = 0x7FFFFFFF;

}  // namespace

PERDecoder::PERDecoder(const char* first, const char* last, const CoderEnv* env, bool aligned)
    : env_(env),
      data_(reinterpret_cast<const unsigned char*>(first)),
      pos_(0),
      end_(first && last > first ? size_t(last - first) : 0),
      bitsLeft_(8),
      aligned_(aligned),
      depth_(0)
{
}

size_t PERDecoder::getBitsLeft() const
{
    return pos_ >= end_ ? 0 : (end_ - pos_) * 8 - (8 - bitsLeft_);
}

bool PERDecoder::decodeMultiBitSpanning(unsigned n, uint32_t& value)
{
    if (n > 32 || getBitsLeft() < n)
        return false;
    if (n == 0) {
        value = 0;
        return true;
    }
    // The rest of the current octet, then whole octets, then the top of the next one, most
    // significant first (shifts only, so the same on any byte order). n > bitsLeft_ here.
    uint32_t v = data_[pos_++] & ((1u << bitsLeft_) - 1);
    unsigned need = n - bitsLeft_;
    while (need >= 8) {
        v = (v << 8) | data_[pos_++];
        need -= 8;
    }
    if (need > 0) {
        v = (v << need) | (data_[pos_] >> (8 - need));
        bitsLeft_ = static_cast<uint16_t>(8 - need);
    } else {
        bitsLeft_ = 8;
    }
    value = v;
    return true;
}

bool PERDecoder::decodeBitMap(std::vector<char>& bytes, unsigned n)
{
    if (getBitsLeft() < n)
        return false;
    bytes.assign((size_t(n) + 7) / 8, 0);
    size_t i = 0;
    uint32_t v;
    for (; n >= 8; n -= 8) {
        decodeMultiBit(8, v);
        bytes[i++] = static_cast<char>(v);
    }
    if (n > 0) {
        decodeMultiBit(n, v);
        bytes[i] = static_cast<char>(v << (8 - n));
    }
    return true;
}

void PERDecoder::byteAlign()
{
    if (aligned_ && bitsLeft_ != 8) {
        ++pos_;
        bitsLeft_ = 8;
    }
}

size_t PERDecoder::octetsLeft() const
{
    size_t at = pos_ + (aligned_ && bitsLeft_ != 8 ? 1 : 0);
    return at >= end_ ? 0 : end_ - at;
}

void PERDecoder::setPosition(size_t p)
{
    pos_ = std::min(p, end_);
    bitsLeft_ = 8;
}

size_t PERDecoder::decodeBlock(char* dest, size_t n)
{
    if (n == 0)
        return 0;
    byteAlign();
    if (bitsLeft_ != 8) {  // unaligned variant: octet by octet
        size_t copied = 0;
        uint32_t v;
        while (copied < n && decodeMultiBit(8, v))
            dest[copied++] = static_cast<char>(v);
        return copied;
    }
    size_t c = std::min(n, end_ - std::min(pos_, end_));
    if (c)
        std::memcpy(dest, data_ + pos_, c);
    pos_ += c;
    return c;
}

bool PERDecoder::decodeSmallUnsigned(uint32_t& n)
{
    bool large;
    if (!decodeSingleBit(large))
        return false;
    if (!large)
        return decodeMultiBit(6, n);
    uint32_t k;
    if (decodeLength(0, NoUpperBound, k) < 0 || k == 0 || k > 4)
        return false;
    byteAlign();
    return decodeMultiBit(8 * k, n);
}

int PERDecoder::decodeUnsignedOther(uint32_t lo, uint32_t hi, uint32_t& value)
{
    uint32_t range = hi - lo;
    if (range == 0) {
        value = lo;
        return 0;
    }
    if (pos_ >= end_)
        return -1;
    unsigned bits = CountBits(range + 1);
    uint32_t field;
    if (range <= 254 || !aligned_) {
        if (!decodeMultiBit(bits, field))
            return -1;
    } else if (range == 255) {
        byteAlign();
        if (!decodeMultiBit(8, field))
            return -1;
    } else if (range <= 65535) {
        byteAlign();
        if (!decodeMultiBit(16, field))
            return -1;
    } else {
        uint32_t k;
        if (decodeUnsigned(1, (bits + 7) / 8, k) < 0 || k == 0 || k > 4)
            return -1;
        byteAlign();
        if (!decodeMultiBit(8 * k, field))
            return -1;
    }
    value = field + lo;
    return 0;
}

int PERDecoder::decodeLength(uint32_t lo, uint32_t hi, uint32_t& len)
{
    if (hi <= 65535)
        return decodeUnsigned(lo, hi, len);
    byteAlign();
    bool first, second;
    if (!decodeSingleBit(first))
        return -1;
    if (!first)
        return decodeMultiBit(7, len) ? 0 : -1;
    if (!decodeSingleBit(second) || second)  // 11: fragmented form, not supported
        return -1;
    return decodeMultiBit(14, len) ? 0 : -1;
}

int PERDecoder::decodeConstrainedLength(const ConstrainedInfo& info, uint32_t& len)
{
    uint32_t lo = static_cast<uint32_t>(info.lowerLimit);
    switch (info.constraint) {
    case ExtendableConstraint: {
        bool outside;
        if (!decodeSingleBit(outside))
            return -1;
        return outside ? decodeLength(0, NoUpperBound, len) : decodeLength(lo, info.upperLimit, len);
    }
    case FixedConstraint:
        return decodeLength(lo, info.upperLimit, len);
    default:
        return decodeLength(0, NoUpperBound, len);
    }
}

bool PERDecoder::decodeNested(AbstractData& value)
{
    if (depth_ >= MaximumDepth)  // a recursive type must not turn input into stack depth
        return false;
    ++depth_;
    bool ok = value.accept(*this);
    --depth_;
    return ok;
}

bool PERDecoder::decodeBounded(AbstractData& value, size_t len)
{
    if (len > octetsLeft())
        return false;
    byteAlign();
    size_t stop = pos_ + len;
    size_t savedEnd = end_;
    end_ = stop;
    bool ok = decodeNested(value);
    end_ = savedEnd;
    if (ok)
        setPosition(stop);
    return ok;
}

bool PERDecoder::readUnconstrainedWhole(uint32_t& bits, unsigned& octets)
{
    uint32_t k;
    if (decodeLength(0, NoUpperBound, k) < 0 || k == 0 || k > 4)
        return false;
    octets = k;
    return decodeMultiBit(8 * k, bits);
}

bool PERDecoder::decodeChoicePreamle(CHOICE& choice, size_t& bound)
{
    const ChoiceInfo& info = *choice.info();
    bound = 0;
    if (pos_ >= end_)
        return false;
    uint32_t index = 0;
    bool extension = false;
    if (info.extendable && !decodeSingleBit(extension))
        return false;
    if (extension) {
        uint32_t n, len;
        if (!decodeSmallUnsigned(n) || decodeLength(0, NoUpperBound, len) < 0 || len > octetsLeft())
            return false;
        if (uint64_t(info.numChoices) + n >= info.totalChoices) {  // an alternative this schema lacks
            choice.setSelection(CHOICE::unknownSelection_, nullptr);
            return false;
        }
        index = info.numChoices + n;
        bound = pos_ + len;
    } else {
        if (info.numChoices == 0)
            return false;
        if (info.numChoices > 1 && decodeUnsigned(0, info.numChoices - 1, index) < 0)
            return false;
        if (index >= info.numChoices)
            return false;
    }
    if (choice.getID() != static_cast<int>(index) || !choice.getSelection()) {
        AbstractData* value = budget_.create(info.selectionInfos[index]);
        choice.setSelection(value ? static_cast<int>(index) : CHOICE::unknownSelection_, value);
        if (!value)
            return false;
    }
    return true;
}

bool PERDecoder::do_visit(Null&) { return true; }

bool PERDecoder::do_visit(BOOLEAN& v)
{
    bool bit;
    if (!decodeSingleBit(bit))
        return false;
    v.setValue(bit);
    return true;
}

bool PERDecoder::do_visit(INTEGER& v)
{
    const ConstrainedInfo& info = *v.info();
    bool unconstrained = info.constraint != FixedConstraint;
    if (info.constraint == ExtendableConstraint && !decodeSingleBit(unconstrained))
        return false;
    if (!unconstrained) {
        uint32_t value;
        if (decodeUnsigned(static_cast<uint32_t>(info.lowerLimit), info.upperLimit, value) < 0)
            return false;
        v.setValue(static_cast<int>(value));
        return true;
    }
    uint32_t bits;
    unsigned k;
    if (!readUnconstrainedWhole(bits, k))
        return false;
    if (k < 4 && (bits & (1u << (8 * k - 1))))  // two's complement: extend the sign
        bits |= ~((1u << (8 * k)) - 1);
    v.setValue(static_cast<int>(bits));
    return true;
}

bool PERDecoder::do_visit(ENUMERATED& v)
{
    bool beyond = false;
    if (v.extendable() && !decodeSingleBit(beyond))
        return false;
    uint32_t value;
    if (beyond) {
        // The encoder writes value + 1 and then value for a value of at most INT32_MAX; a larger
        // one would change sign on its way into the value.
        uint32_t n;
        if (!decodeSmallUnsigned(n) || n == 0 || decodeUnsigned(0, n - 1, value) < 0 ||
            value > uint32_t(INT32_MAX))
            return false;
    } else {
        if (v.getMaximum() < 0 || decodeUnsigned(0, static_cast<uint32_t>(v.getMaximum()), value) < 0)
            return false;
    }
    v.setValue(static_cast<int>(value));
    return true;
}

bool PERDecoder::do_visit(OBJECT_IDENTIFIER& v)
{
    uint32_t count;
    if (decodeUnsigned(0, 255, count) < 0)
        return false;
    byteAlign();
    if (count > octetsLeft())
        return false;
    const char* at = reinterpret_cast<const char*>(data_ + pos_);
    pos_ += count;
    return v.decodeCommon(at, count);
}

bool PERDecoder::do_visit(OCTET_STRING& v)
{
    uint32_t n;
    if (decodeConstrainedLength(*v.info(), n) < 0 || n > MaximumStringSize)
        return false;
    if (n == 1 || n == 2) {
        uint32_t octets;
        if (!decodeMultiBit(8 * n, octets))
            return false;
        v.assign(n, 0);
        v[0] = static_cast<char>(n == 1 ? octets : octets >> 8);
        if (n == 2)
            v[1] = static_cast<char>(octets);
        return true;
    }
    if (n > octetsLeft())
        return false;
    v.resize(n);
    return decodeBlock(v.data(), n) == n;
}

bool PERDecoder::do_visit(BIT_STRING& v)
{
    uint32_t n;
    if (decodeConstrainedLength(*v.info(), n) < 0 || n > MaximumStringSize || n > getBitsLeft())
        return false;
    if (n > 16) {
        size_t octets = (size_t(n) + 7) / 8;
        if (octets > octetsLeft())
            return false;
        v.getData().resize(octets);
        decodeBlock(v.getData().data(), octets);
    } else if (!decodeBitMap(v.getData(), n)) {
        return false;
    }
    v.resize(n);  // keeps the octets, clears the padding
    return true;
}

bool PERDecoder::do_visit(AbstractString& v)
{
    const StringInfo& info = *v.info();
    uint32_t n;
    if (decodeConstrainedLength(info.size, n) < 0 || n > MaximumStringSize)
        return false;
    unsigned b = info.alignedBits;
    if (b == 0 || b > 16)
        return false;
    bool unalignedChars = info.size.constraint != Unconstrained && uint64_t(info.size.upperLimit) * b <= 16;
    if (!unalignedChars) {
        if (b == 8) {
            if (n > octetsLeft()) {
                v.clear();
                return false;
            }
            v.resize(n);
            return decodeBlock(v.data(), n) == n;
        }
        if (n > 0)
            byteAlign();
    }
    if (uint64_t(n) * b > getBitsLeft())
        return false;
    bool ownCode = info.canonicalBits <= b && info.canonicalBits > 4;
    v.resize(n);
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t field;
        if (!decodeMultiBit(b, field))
            return false;
        if (ownCode) {
            v[i] = static_cast<char>(field);
        } else {
            if (field >= info.characterSetSize || !info.characterSet)
                return false;
            v[i] = info.characterSet[field];
        }
    }
    return true;
}

bool PERDecoder::do_visit(BMPString& v)
{
    const BMPStringInfo& info = *v.info();
    uint32_t n;
    if (decodeConstrainedLength(info.size, n) < 0 || n > MaximumStringSize)
        return false;
    if (n > 0 && (info.size.constraint == Unconstrained || uint64_t(info.size.upperLimit) * 16 > 16))
        byteAlign();
    if (uint64_t(n) * 16 > getBitsLeft())
        return false;
    v.resize(n);
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t field;
        if (!decodeMultiBit(16, field))
            return false;
        v[i] = static_cast<wchar_t>(field + info.firstChar);
    }
    return true;
}

bool PERDecoder::do_visit(CHOICE& v)
{
    size_t bound;
    if (!decodeChoicePreamle(v, bound))
        return false;
    AbstractData& value = *v.getSelection();
    if (bound == 0)
        return decodeNested(value);
    return decodeBounded(value, bound - pos_);
}

bool PERDecoder::do_visit(SEQUENCE_OF_Base& v)
{
    uint32_t n;
    if (decodeConstrainedLength(v.info()->size, n) < 0 || n > MaximumArraySize)
        return false;
    if (v.size() > n)
        v.erase(v.begin() + n, v.end());
    v.reserve(n);  // slots only: elements are built as they are read
    for (uint32_t i = 0; i < n; ++i) {
        if (i >= v.size()) {
            std::unique_ptr<AbstractData> e(budget_.create(v.info()->elementInfo));
            if (!e)
                return false;
            v.push_back_owned(e.get());
            e.release();
        }
        if (!decodeNested(v.at(i))) {
            v.erase(v.begin() + i, v.end());
            return false;
        }
    }
    return true;
}

bool PERDecoder::do_visit(OpenData& v)
{
    // An open type always has at least one octet: what no encoder writes is refused rather
    // than kept as an empty buffer that would re-encode differently.
    uint32_t len;
    if (decodeLength(0, NoUpperBound, len) < 0 || len == 0 || len > octetsLeft())
        return false;
    byteAlign();
    const char* at = reinterpret_cast<const char*>(data_ + pos_);
    v.set_buf(at, at + len);
    pos_ += len;
    return true;
}

bool PERDecoder::do_revisit(OpenData& v)
{
    if (!v.has_buf() || !v.has_data())
        return false;
    const std::vector<char>& buf = *v.get_buf();
    PERDecoder sub(buf.data(), buf.data() + buf.size(), env_, aligned_);
    return v.get_data()->accept(sub);
}

bool PERDecoder::do_visit(TypeConstrainedOpenData& v)
{
    uint32_t len;
    if (decodeLength(0, NoUpperBound, len) < 0 || len > octetsLeft() || !v.has_data())
        return false;
    return decodeBounded(*v.get_data(), len);
}

bool PERDecoder::do_visit(GeneralizedTime& v)
{
    uint32_t n;
    if (decodeLength(0, NoUpperBound, n) < 0 || n > octetsLeft())
        return false;
    boost::scoped_array<char> text(new char[n + 1]);
    if (decodeBlock(text.get(), n) != n)
        return false;
    text[n] = 0;
    // Time text from the wire is parsed strictly: bad text fails the decode.
    return parseGeneralizedTime(text.get(), n, v);
}

bool PERDecoder::visit(SEQUENCE& seq) { return walkSequence(*this, seq); }

int PERDecoder::preVisitExtensionRoots(SEQUENCE& seq)
{
    const SequenceInfo& info = *seq.info();
    bool extension = false;
    if (info.extendable && !decodeSingleBit(extension))
        return Fail;
    SEQUENCE::BitMap& optional = seq.optionalMap();
    optional.reset(info.numOptional);
    // The presence bits, up to 32 at a time.
    for (unsigned i = 0; i < info.numOptional;) {
        const unsigned n = std::min(info.numOptional - i, 32u);
        uint32_t bits;
        if (!decodeMultiBit(n, bits))
            return Fail;
        for (; bits; bits &= bits - 1)
            optional.set(i + n - 1 - static_cast<unsigned>(__builtin_ctz(bits)));
        i += n;
    }
    if (!extension)
        seq.extensionMap().resize(0);
    return extension ? Continue : NoExtensions;
}

int PERDecoder::visitExtensionRoot(SEQUENCE& seq, int index, int optionalId)
{
    if (optionalId != -1 && !seq.optionalMap()[static_cast<unsigned>(optionalId)])
        return Continue;
    AbstractData* field = seq.getField(static_cast<unsigned>(index));
    if (!field) {
        field = budget_.create(seq.info()->fieldInfos[index]);
        if (!field)
            return Fail;
        seq.setField(static_cast<unsigned>(index), field);
    }
    return decodeNested(*field) ? Continue : Fail;
}

int PERDecoder::preVisitExtensions(SEQUENCE& seq)
{
    uint32_t n;
    if (!decodeSmallUnsigned(n) || n >= MaximumArraySize)
        return Fail;
    unsigned bits = n + 1;
    if (getBitsLeft() < bits)
        return Fail;
    SEQUENCE::BitMap& map = seq.extensionMap();
    map.resize(0);
    map.resize(bits);
    for (unsigned k = 0; k < bits; ++k) {
        bool present = false;
        decodeSingleBit(present);  // cannot fail: the bits were counted above
        if (present)
            map.set(k);
    }
    return Continue;
}

int PERDecoder::visitKnownExtension(SEQUENCE& seq, int index, int)
{
    const SequenceInfo& info = *seq.info();
    unsigned k = static_cast<unsigned>(index) - info.numFields;
    SEQUENCE::BitMap& map = seq.extensionMap();
    if (!map[k])
        return Continue;
    uint32_t len;
    if (decodeLength(0, NoUpperBound, len) < 0 || len > octetsLeft())
        return Fail;
    AbstractData* field = seq.getField(static_cast<unsigned>(index));
    if (!field) {
        if (!info.fieldInfos[index]) {  // a type this build cannot hold: skip its octets
            map.clear(k);
            byteAlign();
            setPosition(pos_ + len);
            return Continue;
        }
        field = budget_.create(info.fieldInfos[index]);
        if (!field)
            return Fail;
        seq.setField(static_cast<unsigned>(index), field);
    }
    return decodeBounded(*field, len) ? Continue : Fail;
}

bool PERDecoder::visitUnknownExtensions(SEQUENCE& seq)
{
    unsigned known = seq.info()->knownExtensions;
    SEQUENCE::BitMap& map = seq.extensionMap();
    for (unsigned k = known; k < map.size(); ++k) {
        if (!map[k])
            continue;
        uint32_t len;
        if (decodeLength(0, NoUpperBound, len) < 0 || len > octetsLeft())
            return false;
        byteAlign();
        setPosition(pos_ + len);
    }
    // The value keeps only the additions it can hold, so that it re-encodes well-formed.
    if (map.size() > known)
        map.resize(known);
    return true;
}

}  // namespace ASN1
