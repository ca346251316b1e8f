#include "asn1/BERDecoder.h"

#include "asn1/ASN1.h"
#include "asn1/DataLengthCounter.h"
#include "asn1/GeneralizedTimeText.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace ASN1 {

namespace {

// Tag numbers beyond a tag word's 16 bits are refused; three seven-bit groups hold them all.
constexpr unsigned MaxTagGroups = 3;
constexpr unsigned MaxLengthOctets = 4;
// Longest GeneralizedTime text: date and time, a fraction of nine digits, an offset.
constexpr uint32_t MaxTimeText = 32;
// Deepest nesting of constructed components: a recursive type must not exhaust the stack.
constexpr size_t MaxDepth = 64;

}  // namespace

BERDecoder::BERDecoder(const char* first, const char* last, const CoderEnv* env)
    : env_(env),
      data_(reinterpret_cast<const unsigned char*>(first)),
      pos_(0),
      end_(first && last > first ? size_t(last - first) : 0),
      unchecked_(0)
{
}

bool BERDecoder::decodeHeader(uint32_t& tag, bool& primitive, uint32_t& length)
{
    size_t p = pos_;
    size_t lim = limit();
    if (p >= lim)
        return false;
    unsigned char id = data_[p++];
    uint32_t number = id & 0x1F;
    if (number == 31) {
        number = 0;
        unsigned groups = 0;
        unsigned char c;
        do {
            if (p >= lim || ++groups > MaxTagGroups)
                return false;
            c = data_[p++];
            number = (number << 7) | (c & 0x7F);
        } while (c & 0x80);
        if (number > 0xFFFF)
            return false;
    }
    if (p >= lim)
        return false;
    unsigned char first = data_[p++];
    uint32_t len = first;
    if (first & 0x80) {
        // 0x80 is the indefinite form, which this decoder does not read.
        unsigned k = first & 0x7F;
        if (k == 0 || k > MaxLengthOctets || k > lim - p)
            return false;
        len = 0;
        for (unsigned i = 0; i < k; ++i)
            len = (len << 8) | data_[p++];
    }
    if (len > lim - p)
        return false;
    tag = (uint32_t(id & 0xC0) << 16) | number;
    primitive = !(id & 0x20);
    length = len;
    pos_ = p;
    return true;
}

bool BERDecoder::takeWaiver()
{
    if (unchecked_ == 0)
        return false;
    --unchecked_;
    return true;
}

bool BERDecoder::decodeHeader(const AbstractData& value, uint32_t& length)
{
    bool waived = takeWaiver();
    return decodeExpectedHeader(value.info()->tag, !waived, length);
}

bool BERDecoder::decodeExpectedHeader(uint32_t expected, bool check, uint32_t& length)
{
    size_t start = pos_;
    uint32_t tag;
    bool primitive;
    if (!decodeHeader(tag, primitive, length))
        return false;
    if (check && tag != expected) {
        pos_ = start;
        return false;
    }
    return true;
}

size_t BERDecoder::decodeBlock(char* dest, size_t count)
{
    size_t lim = limit();
    size_t c = std::min(count, lim > pos_ ? lim - pos_ : 0);
    if (c)
        std::memcpy(dest, data_ + pos_, c);
    pos_ += c;
    return c;
}

bool BERDecoder::readContents(const AbstractData& value, uint32_t& length, const char*& contents)
{
    if (!decodeHeader(value, length))
        return false;
    contents = reinterpret_cast<const char*>(data_ + pos_);
    pos_ += length;  // the header check kept it within the input
    return true;
}

bool BERDecoder::decodeWaived(AbstractData& value)
{
    unchecked_ = 1;
    bool ok = value.accept(*this);
    unchecked_ = 0;
    return ok;
}

bool BERDecoder::pushEnd(size_t end)
{
    if (end > limit() || ends_.size() >= MaxDepth)
        return false;
    ends_.push_back(end);
    return true;
}

bool BERDecoder::popEnd(bool ok)
{
    size_t end = ends_.back();
    ends_.pop_back();
    if (ok)
        pos_ = end;
    return ok;
}

bool BERDecoder::decodeWithin(AbstractData& value, size_t end)
{
    if (!pushEnd(end))
        return false;
    return popEnd(value.accept(*this));
}

bool BERDecoder::do_visit(Null& v)
{
    uint32_t len;
    const char* contents;
    return readContents(v, len, contents);
}

bool BERDecoder::do_visit(BOOLEAN& v)
{
    uint32_t len;
    const char* contents;
    if (!readContents(v, len, contents) || len != 1)
        return false;
    v.setValue(contents[0] != 0);
    return true;
}

// Two's complement, most significant octet first; a fifth octet is accepted only as the
// leading zero of an unsigned number above 2^31 - 1.
bool BERDecoder::readSignedContents(const AbstractData& value, int64_t& number, bool allowUnsignedWord)
{
    uint32_t len;
    const char* contents;
    if (!readContents(value, len, contents) || len == 0)
        return false;
    if (len > 4 && !(len == 5 && allowUnsignedWord && contents[0] == 0))
        return false;
    int64_t n = static_cast<signed char>(contents[0]);
    for (uint32_t i = 1; i < len; ++i)
        n = n * 256 + static_cast<unsigned char>(contents[i]);
    number = n;
    return true;
}

bool BERDecoder::do_visit(INTEGER& v)
{
    const ConstrainedInfo& r = *v.info();
    int64_t n;
    if (!readSignedContents(v, n, r.constraint != Unconstrained && r.lowerLimit >= 0))
        return false;
    v.setValue(static_cast<int>(static_cast<uint32_t>(n)));
    return true;
}

bool BERDecoder::do_visit(ENUMERATED& v)
{
    int64_t n;
    if (!readSignedContents(v, n, false))
        return false;
    v.setValue(static_cast<int>(n));
    return true;
}

bool BERDecoder::do_visit(OBJECT_IDENTIFIER& v)
{
    uint32_t len;
    const char* contents;
    if (!readContents(v, len, contents))
        return false;
    // Every sub-identifier must fit the 32-bit arcs.
    uint64_t sub = 0;
    for (uint32_t i = 0; i < len; ++i) {
        unsigned char c = static_cast<unsigned char>(contents[i]);
        sub = (sub << 7) | (c & 0x7F);
        if (sub > 0xFFFFFFFFu)
            return false;
        if (!(c & 0x80))
            sub = 0;
    }
    return v.decodeCommon(contents, len);
}

bool BERDecoder::do_visit(OCTET_STRING& v)
{
    uint32_t len;
    const char* contents;
    if (!readContents(v, len, contents) || len > MaximumStringSize)
        return false;
    v.assign(contents, contents + len);
    return true;
}

bool BERDecoder::do_visit(BIT_STRING& v)
{
    uint32_t len;
    const char* contents;
    if (!readContents(v, len, contents) || len == 0)
        return false;
    unsigned unused = static_cast<unsigned char>(contents[0]);
    if (unused > 7 || (len == 1 && unused != 0))
        return false;
    uint64_t bits = uint64_t(len - 1) * 8 - unused;
    if (bits > MaximumStringSize)
        return false;
    v.getData().assign(contents + 1, contents + len);
    v.resize(static_cast<unsigned>(bits));
    return true;
}

bool BERDecoder::do_visit(AbstractString& v)
{
    uint32_t len;
    const char* contents;
    if (!readContents(v, len, contents) || len > MaximumStringSize)
        return false;
    v.assign(contents, len);
    return true;
}

bool BERDecoder::do_visit(BMPString& v)
{
    uint32_t len;
    const char* contents;
    if (!readContents(v, len, contents) || len % 2 != 0 || len / 2 > MaximumStringSize)
        return false;
    v.resize(len / 2);
    for (uint32_t i = 0; i < len / 2; ++i)
        v[i] = static_cast<wchar_t>(static_cast<unsigned char>(contents[2 * i]) << 8 |
                                    static_cast<unsigned char>(contents[2 * i + 1]));
    return true;
}

bool BERDecoder::do_visit(GeneralizedTime& v)
{
    uint32_t len;
    const char* contents;
    if (!readContents(v, len, contents) || len > MaxTimeText)
        return false;
    return parseGeneralizedTime(contents, len, v);
}

bool BERDecoder::decodeChoicePreamle(CHOICE& choice, size_t& end)
{
    size_t start = pos_;
    uint32_t tag, len;
    bool primitive;
    if (!decodeHeader(tag, primitive, len))
        return false;
    end = pos_ + len;
    pos_ = start;  // the alternative reads its own header
    const ChoiceInfo& r = *choice.info();
    int index = -1;
    if (!r.tags) {
        if ((tag & 0xFF0000) == 0x800000 && (tag & 0xFFFF) < r.totalChoices)
            index = static_cast<int>(tag & 0xFFFF);
    } else {
        const unsigned* found = std::lower_bound(r.tags, r.tags + r.numChoices, tag);
        if (found != r.tags + r.numChoices && *found == tag)
            index = static_cast<int>(found - r.tags);
    }
    if (index < 0) {
        choice.setSelection(CHOICE::unknownSelection_, nullptr);
        return false;
    }
    if (choice.getID() != index || !choice.getSelection()) {
        AbstractData* value = budget_.create(r.selectionInfos[index]);
        choice.setSelection(value ? index : int(CHOICE::unknownSelection_), value);
        if (!value)
            return false;
    }
    return true;
}

bool BERDecoder::do_visit(CHOICE& v)
{
    // A tagged CHOICE (a field or an alternative, or a type with a tag of its own) is wrapped
    // in an explicit header.
    bool waived = takeWaiver();
    bool tagged = waived || v.info()->head.tag != 0;
    if (tagged) {
        uint32_t len;
        if (!decodeExpectedHeader(v.info()->head.tag, !waived, len))
            return false;
        if (!pushEnd(pos_ + len))
            return false;
    }
    size_t end;
    bool ok = decodeChoicePreamle(v, end);
    if (ok) {
        unchecked_ = 1;
        ok = decodeWithin(*v.getSelection(), end);
        unchecked_ = 0;
    }
    return tagged ? popEnd(ok) : ok;
}

bool BERDecoder::do_visit(SEQUENCE_OF_Base& v)
{
    uint32_t len;
    if (!decodeHeader(v, len))
        return false;
    size_t end = pos_ + len;
    if (!pushEnd(end))
        return false;
    unsigned i = 0;
    bool ok = true;
    while (ok && pos_ < end) {
        if (i >= MaximumArraySize) {
            ok = false;
            break;
        }
        if (i >= v.size()) {
            AbstractData* e = budget_.create(v.info()->elementInfo);
            if (!e) {
                ok = false;
                break;
            }
            v.push_back_owned(e);
        }
        size_t before = pos_;
        // An element that takes no octets would repeat forever.
        ok = v.at(i).accept(*this) && pos_ > before;
        if (ok)
            ++i;
    }
    if (!popEnd(ok)) {
        v.erase(v.begin() + std::min(i, v.size()), v.end());
        return false;
    }
    if (v.size() > i)
        v.erase(v.begin() + i, v.end());
    return true;
}

bool BERDecoder::do_visit(OpenData& v)
{
    bool waived = takeWaiver();
    bool tagged = waived || v.info()->head.tag != 0;
    size_t start = pos_;
    uint32_t len;
    if (!decodeExpectedHeader(v.info()->head.tag, tagged && !waived, len))
        return false;
    const char* at = reinterpret_cast<const char*>(data_);
    if (tagged) {
        v.set_buf(at + pos_, at + pos_ + len);  // the carried value's encoding
    } else {
        v.set_buf(at + start, at + pos_ + len);  // untagged: the header is the carried value's
    }
    pos_ += len;
    return true;
}

bool BERDecoder::do_revisit(OpenData& v)
{
    if (!v.has_buf() || !v.has_data())
        return false;
    const std::vector<char>& buf = *v.get_buf();
    BERDecoder sub(buf.data(), buf.data() + buf.size(), env_);
    return v.get_data()->accept(sub);
}

bool BERDecoder::do_visit(TypeConstrainedOpenData& v)
{
    bool waived = takeWaiver();
    if (!v.has_data())
        return false;
    if (!waived && v.info()->head.tag == 0)
        return v.get_data()->accept(*this);
    uint32_t len;
    if (!decodeExpectedHeader(v.info()->head.tag, !waived, len))
        return false;
    return decodeWithin(*v.get_data(), pos_ + len);
}

int BERDecoder::preVisitExtensionRoots(SEQUENCE& seq)
{
    uint32_t len;
    if (!decodeHeader(seq, len))
        return Fail;
    if (!pushEnd(pos_ + len))
        return Fail;
    seq.optionalMap().resize(0);
    seq.optionalMap().resize(seq.info()->numOptional);
    seq.extensionMap().resize(0);
    return Continue;
}

int BERDecoder::decodeField(SEQUENCE& seq, int index, int optionalId)
{
    bool optional = optionalId != -1;
    if (pos_ >= limit())
        return optional ? Continue : Fail;
    size_t start = pos_;
    uint32_t tag, len;
    bool primitive;
    if (!decodeHeader(tag, primitive, len))
        return Fail;
    size_t componentEnd = pos_ + len;
    pos_ = start;
    unsigned i = static_cast<unsigned>(index);
    if (tag != fieldTag(seq, i))
        return optional ? Continue : Fail;
    const void* record = seq.info()->fieldInfos[i];
    if (!record) {  // an addition this build has no type for: skip it
        pos_ = componentEnd;
        return Continue;
    }
    AbstractData* field = seq.getField(i);
    if (!field) {
        field = budget_.create(record);
        if (!field)
            return Fail;
        seq.setField(i, field);
    }
    if (optional)
        seq.includeOptionalField(static_cast<unsigned>(optionalId), i);
    if (!decodeWaived(*field)) {
        if (optional)
            seq.removeOptionalField(static_cast<unsigned>(optionalId));
        return Fail;
    }
    return Continue;
}

int BERDecoder::visitExtensionRoot(SEQUENCE& seq, int index, int optionalId)
{
    return decodeField(seq, index, optionalId);
}

int BERDecoder::visitKnownExtension(SEQUENCE& seq, int index, int optionalId)
{
    return decodeField(seq, index, optionalId);
}

bool BERDecoder::visitUnknownExtensions(SEQUENCE&)
{
    if (ends_.empty())
        return false;
    return popEnd(true);  // components this schema does not know are skipped
}

namespace detail {

bool decodeBER(const char* first, const char* last, const CoderEnv* env, AbstractData& value)
{
    BERDecoder decoder(first, last, env);
    return value.accept(decoder);
}

}  // namespace detail

}  // namespace ASN1
