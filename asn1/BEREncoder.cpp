#include "asn1/BEREncoder.h"

#include "asn1/ASN1.h"
#include "asn1/DataLengthCounter.h"
#include "asn1/PrimitiveChecker.h"

namespace ASN1 {

namespace {

bool isPrimitive(const AbstractData& value)
{
    PrimitiveChecker checker;
    return value.accept(checker);
}

}  // namespace

void BEREncoder::writeIdentifier(uint32_t tag, bool constructed)
{
    unsigned tagClass = (tag >> 16) & 0xC0;
    uint32_t number = tag & 0xFFFF;
    char first = static_cast<char>(tagClass | (constructed ? 0x20 : 0));
    if (number < 31) {
        out_->push_back(static_cast<char>(first | number));
        return;
    }
    out_->push_back(static_cast<char>(first | 0x1F));
    unsigned groups = identifierLength(tag) - 1;
    for (unsigned g = groups; g-- > 0;)
        out_->push_back(static_cast<char>(((number >> (7 * g)) & 0x7F) | (g ? 0x80 : 0)));
}

void BEREncoder::writeLength(uint32_t length)
{
    if (length < 128) {
        out_->push_back(static_cast<char>(length));
        return;
    }
    unsigned k = lengthLength(length) - 1;
    out_->push_back(static_cast<char>(0x80 | k));
    for (unsigned i = k; i-- > 0;)
        out_->push_back(static_cast<char>(length >> (8 * i)));
}

void BEREncoder::writeInteger(int64_t value)
{
    for (unsigned i = getIntegerDataLength(value); i-- > 0;)
        out_->push_back(static_cast<char>(value >> (8 * i)));
}

uint32_t BEREncoder::takeTag(const AbstractData& value)
{
    uint32_t tag = tag_ == OwnTag ? value.info()->tag : static_cast<uint32_t>(tag_);
    tag_ = OwnTag;
    return tag;
}

bool BEREncoder::encodeHeader(const AbstractData& value)
{
    uint32_t tag = takeTag(value);
    if (tag == 0)
        return true;
    writeIdentifier(tag, !isPrimitive(value));
    writeLength(getDataLength(value));
    return true;
}

void BEREncoder::encodeExplicitHeader(const AbstractData& value)
{
    uint32_t tag = takeTag(value);
    if (tag == 0)
        return;
    writeIdentifier(tag, true);
    writeLength(getDataLength(value));
}

bool BEREncoder::encodeTagged(const AbstractData& value, uint32_t tag)
{
    tag_ = tag;
    return value.accept(*this);
}

bool BEREncoder::do_visit(const Null& v) { return encodeHeader(v); }

bool BEREncoder::do_visit(const BOOLEAN& v)
{
    encodeHeader(v);
    out_->push_back(v.getValue() ? static_cast<char>(0xFF) : 0);
    return true;
}

bool BEREncoder::do_visit(const INTEGER& v)
{
    encodeHeader(v);
    writeInteger(berIntegerValue(v));
    return true;
}

bool BEREncoder::do_visit(const ENUMERATED& v)
{
    encodeHeader(v);
    writeInteger(v.getValue());
    return true;
}

bool BEREncoder::do_visit(const OBJECT_IDENTIFIER& v)
{
    encodeHeader(v);
    std::vector<char> contents;
    v.encodeCommon(contents);
    out_->insert(out_->end(), contents.begin(), contents.end());
    return true;
}

bool BEREncoder::do_visit(const BIT_STRING& v)
{
    encodeHeader(v);
    out_->push_back(static_cast<char>((8 - v.size() % 8) % 8));
    const std::vector<char>& bits = v.getData();
    size_t octets = (size_t(v.size()) + 7) / 8;
    for (size_t i = 0; i < octets; ++i)
        out_->push_back(i < bits.size() ? bits[i] : 0);
    return true;
}

bool BEREncoder::do_visit(const OCTET_STRING& v)
{
    encodeHeader(v);
    out_->insert(out_->end(), v.begin(), v.end());
    return true;
}

bool BEREncoder::do_visit(const AbstractString& v)
{
    encodeHeader(v);
    out_->insert(out_->end(), v.begin(), v.end());
    return true;
}

bool BEREncoder::do_visit(const BMPString& v)
{
    for (wchar_t c : v)
        if (static_cast<uint32_t>(c) > 0xFFFF)  // no two-octet form: refused, not cut
            return false;
    encodeHeader(v);
    for (wchar_t c : v) {
        out_->push_back(static_cast<char>(static_cast<uint32_t>(c) >> 8));
        out_->push_back(static_cast<char>(c));
    }
    return true;
}

bool BEREncoder::do_visit(const CHOICE& v)
{
    if (v.getID() < 0 || !v.getSelection() ||
        static_cast<unsigned>(v.getID()) >= v.info()->totalChoices) {
        tag_ = OwnTag;
        return false;
    }
    encodeExplicitHeader(v);
    return encodeTagged(*v.getSelection(), alternativeTag(v, static_cast<unsigned>(v.getID())));
}

bool BEREncoder::do_visit(const OpenData& v)
{
    if (!v.has_data() && !v.has_buf()) {
        tag_ = OwnTag;
        return false;
    }
    encodeExplicitHeader(v);
    if (v.has_data())
        return v.get_data()->accept(*this);
    out_->insert(out_->end(), v.get_buf()->begin(), v.get_buf()->end());
    return true;
}

bool BEREncoder::do_visit(const GeneralizedTime& v)
{
    encodeHeader(v);
    std::string text = v.get();
    out_->insert(out_->end(), text.begin(), text.end());
    return true;
}

bool BEREncoder::do_visit(const SEQUENCE_OF_Base& v)
{
    encodeHeader(v);
    for (const AbstractData* e : v)
        if (!e->accept(*this))
            return false;
    return true;
}

bool BEREncoder::preVisitExtensionRoots(const SEQUENCE& seq) { return encodeHeader(seq); }

bool BEREncoder::visitExtensionRoot(const SEQUENCE& seq, int index)
{
    const AbstractData* f = seq.getField(static_cast<unsigned>(index));
    return f && encodeTagged(*f, fieldTag(seq, static_cast<unsigned>(index)));
}

bool BEREncoder::visitKnownExtension(const SEQUENCE& seq, int index)
{
    return visitExtensionRoot(seq, index);
}

namespace detail {

bool encodeBER(const AbstractData& value, std::vector<char>& out)
{
    out.reserve(256);
    BEREncoder encoder(out);
    return value.accept(encoder);
}

}  // namespace detail

}  // namespace ASN1
