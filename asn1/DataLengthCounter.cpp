#include "asn1/DataLengthCounter.h"

#include "asn1/ASN1.h"

namespace ASN1 {

unsigned getIntegerDataLength(int64_t n)
{
    unsigned octets = 1;
    while (octets < 8 && (n < -(int64_t(1) << (8 * octets - 1)) || n >= (int64_t(1) << (8 * octets - 1))))
        ++octets;
    return octets;
}

int64_t berIntegerValue(const INTEGER& v)
{
    const ConstrainedInfo& r = *v.info();
    if (r.constraint != Unconstrained && r.lowerLimit >= 0)
        return static_cast<uint32_t>(v.getValue());
    return v.getNumber();
}

uint32_t getDataLength(const AbstractData& value)
{
    DataLengthCounter counter;
    value.accept(counter);
    return counter.getLength();
}

unsigned identifierLength(uint32_t tag)
{
    uint32_t number = tag & 0xFFFF;
    if (number < 31)
        return 1;
    unsigned groups = 1;
    while (number >>= 7)
        ++groups;
    return 1 + groups;
}

unsigned lengthLength(uint32_t length)
{
    if (length < 128)
        return 1;
    unsigned k = 1;
    while (k < 4 && (length >> (8 * k)) != 0)
        ++k;
    return 1 + k;
}

uint32_t getObjectLength(const AbstractData& value, int64_t tag)
{
    uint32_t t = tag == OwnTag ? value.info()->tag : static_cast<uint32_t>(tag);
    uint32_t contents = getDataLength(value);
    if (t == 0)
        return contents;
    return identifierLength(t) + lengthLength(contents) + contents;
}

uint32_t fieldTag(const SEQUENCE& seq, unsigned index)
{
    const SequenceInfo& r = *seq.info();
    if (!r.fieldTags)
        return contextTag(index);
    if (r.fieldTags == &SEQUENCE::defaultTag)
        return r.fieldInfos[index] ? headOf(r.fieldInfos[index]).tag : 0;
    return r.fieldTags[index];
}

uint32_t alternativeTag(const CHOICE& choice, unsigned index)
{
    const ChoiceInfo& r = *choice.info();
    return r.tags ? r.tags[index] : contextTag(index);
}

bool DataLengthCounter::do_visit(const Null&) { return true; }
bool DataLengthCounter::do_visit(const BOOLEAN&) { length_ += 1; return true; }

bool DataLengthCounter::do_visit(const INTEGER& v)
{
    length_ += getIntegerDataLength(berIntegerValue(v));
    return true;
}

bool DataLengthCounter::do_visit(const ENUMERATED& v)
{
    length_ += getIntegerDataLength(v.getValue());
    return true;
}

bool DataLengthCounter::do_visit(const OBJECT_IDENTIFIER& v)
{
    std::vector<char> contents;
    v.encodeCommon(contents);
    length_ += static_cast<uint32_t>(contents.size());
    return true;
}

bool DataLengthCounter::do_visit(const BIT_STRING& v)
{
    length_ += (v.size() + 7) / 8 + 1;
    return true;
}

bool DataLengthCounter::do_visit(const OCTET_STRING& v)
{
    length_ += static_cast<uint32_t>(v.size());
    return true;
}

bool DataLengthCounter::do_visit(const AbstractString& v)
{
    length_ += static_cast<uint32_t>(v.size());
    return true;
}

bool DataLengthCounter::do_visit(const BMPString& v)
{
    length_ += static_cast<uint32_t>(2 * v.size());
    return true;
}

bool DataLengthCounter::do_visit(const CHOICE& v)
{
    if (v.getID() >= 0 && v.getSelection())
        length_ += getObjectLength(*v.getSelection(), alternativeTag(v, static_cast<unsigned>(v.getID())));
    return true;
}

// The encoder writes a held value with its own tag, or else the kept octets as they are.
bool DataLengthCounter::do_visit(const OpenData& v)
{
    if (v.has_data())
        length_ += getObjectLength(*v.get_data(), OwnTag);
    else if (v.has_buf())
        length_ += static_cast<uint32_t>(v.get_buf()->size());
    return true;
}

bool DataLengthCounter::do_visit(const GeneralizedTime& v)
{
    length_ += static_cast<uint32_t>(v.get().size());
    return true;
}

bool DataLengthCounter::do_visit(const SEQUENCE_OF_Base& v)
{
    for (const AbstractData* e : v)
        length_ += getObjectLength(*e, OwnTag);
    return true;
}

bool DataLengthCounter::preVisitExtensionRoots(const SEQUENCE&) { return true; }

bool DataLengthCounter::visitExtensionRoot(const SEQUENCE& seq, int index)
{
    const AbstractData* f = seq.getField(static_cast<unsigned>(index));
    if (f)
        length_ += getObjectLength(*f, fieldTag(seq, static_cast<unsigned>(index)));
    return true;
}

bool DataLengthCounter::visitKnownExtension(const SEQUENCE& seq, int index)
{
    return visitExtensionRoot(seq, index);
}

}  // namespace ASN1
