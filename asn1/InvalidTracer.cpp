#include "asn1/InvalidTracer.h"

#include "asn1/ASN1.h"

#include <ostream>

namespace ASN1 {

bool InvalidTracer::do_visit(const Null&) { return true; }
bool InvalidTracer::do_visit(const BOOLEAN&) { return true; }

bool InvalidTracer::do_visit(const INTEGER& v)
{
    const ConstrainedInfo& c = *v.info();
    if (c.constraint == Unconstrained)
        return true;
    if (c.lowerLimit < 0) {
        int64_t value = v.getValue();
        if (value < c.lowerLimit) {
            text_ << " The INTEGER value " << value << " is smaller than lower bound " << c.lowerLimit;
            return false;
        }
        if (c.constraint != ExtendableConstraint && value > int64_t(c.upperLimit)) {
            text_ << " The INTEGER value " << value << " is greater than upper bound " << c.upperLimit;
            return false;
        }
        return true;
    }
    unsigned value = static_cast<unsigned>(v.getValue());
    if (value < static_cast<unsigned>(c.lowerLimit)) {
        text_ << " The INTEGER value " << value << " is smaller than lower bound " << c.lowerLimit;
        return false;
    }
    if (c.constraint != ExtendableConstraint && value > c.upperLimit) {
        text_ << " The INTEGER value " << value << " is greater than upper bound " << c.upperLimit;
        return false;
    }
    return true;
}

bool InvalidTracer::do_visit(const ENUMERATED& v)
{
    if (v.isStrictlyValid())
        return true;
    text_ << " This ENUMERATED has invalid value " << v.getValue();
    return false;
}

bool InvalidTracer::do_visit(const OBJECT_IDENTIFIER& v)
{
    if (!v.arcs().empty())
        return true;
    text_ << " This OBJECT IDENTIFIER is not assigned";
    return false;
}

bool InvalidTracer::sizeInBounds(const char* what, const ConstrainedInfo& c, unsigned size)
{
    if (size < static_cast<unsigned>(c.lowerLimit)) {
        text_ << " This " << what << " has size " << size << " smaller than its lower bound " << c.lowerLimit;
        return false;
    }
    if (c.constraint == FixedConstraint && size > c.upperLimit) {
        text_ << " This " << what << " has size " << size << " greater than its upper bound " << c.upperLimit;
        return false;
    }
    return true;
}

bool InvalidTracer::do_visit(const BIT_STRING& v) { return sizeInBounds("BIT STRING", *v.info(), v.size()); }

bool InvalidTracer::do_visit(const OCTET_STRING& v)
{
    return sizeInBounds("OCTET STRING", *v.info(), static_cast<unsigned>(v.size()));
}

bool InvalidTracer::do_visit(const AbstractString& v)
{
    if (!sizeInBounds("AbstractString", v.info()->size, static_cast<unsigned>(v.size())))
        return false;
    for (char c : static_cast<const std::string&>(v)) {
        if (v.legalCharacter(c))
            continue;
        // A character that would break the log line is shown by its code.
        unsigned code = static_cast<unsigned char>(c);
        text_ << " The character '";
        if (code < 0x20 || code >= 0x7F)
            text_ << code;
        else
            text_ << c;
        text_ << "' is not valid for the string";
        return false;
    }
    return true;
}

bool InvalidTracer::do_visit(const BMPString& v)
{
    if (!sizeInBounds("BMPString", v.info()->size, static_cast<unsigned>(v.size())))
        return false;
    size_t at = v.first_illegal_at();
    if (at == v.size())
        return true;
    text_ << " The character '" << static_cast<unsigned>(v[at]) << "' is not valid for the string";
    return false;
}

bool InvalidTracer::do_visit(const CHOICE& v)
{
    int id = v.getID();
    if (id == CHOICE::unknownSelection_) {
        text_ << " This selection is not understood by this decoder";
        return false;
    }
    const ChoiceInfo& r = *v.info();
    if (id < 0 || !v.getSelection() || static_cast<unsigned>(id) >= r.totalChoices) {
        text_ << " This CHOICE is not selected";
        return false;
    }
    InvalidTracer inner;
    if (v.getSelection()->accept(inner))
        return true;
    const char* name = r.selectionNames ? r.selectionNames[id] : nullptr;
    text_ << '.' << (name ? name : "?") << inner.str();
    return false;
}

bool InvalidTracer::do_visit(const OpenData& v)
{
    if (v.has_data())
        return v.get_data()->accept(*this);
    if (v.has_buf())
        return true;
    text_ << " This Open Type does not contain any valid data";
    return false;
}

bool InvalidTracer::do_visit(const GeneralizedTime& v)
{
    if (v.isStrictlyValid())
        return true;
    text_ << " This GeneralizedTime is not valid";
    return false;
}

bool InvalidTracer::do_visit(const SEQUENCE_OF_Base& v)
{
    if (!sizeInBounds("SEQUENCE OF", v.info()->size, v.size()))
        return false;
    int index = 0;
    for (const AbstractData* e : v) {
        InvalidTracer inner;
        if (!e->accept(inner)) {
            text_ << '[' << index << ']' << inner.str();
            return false;
        }
        ++index;
    }
    return true;
}

bool InvalidTracer::visitExtensionRoot(const SEQUENCE& seq, int index)
{
    const AbstractData* field = seq.getField(static_cast<unsigned>(index));
    const char* const* names = seq.info()->fieldNames;
    const char* name = names ? names[index] : nullptr;
    InvalidTracer inner;
    if (field && field->accept(inner))
        return true;
    text_ << '.' << (name ? name : "?") << inner.str();
    return false;
}

bool InvalidTracer::visitKnownExtension(const SEQUENCE& seq, int index)
{
    return visitExtensionRoot(seq, index);
}

bool trace_invalid(std::ostream& os, const char* prefix, const AbstractData& value)
{
    InvalidTracer tracer;
    if (value.accept(tracer))
        return true;
    os << (prefix ? prefix : "") << tracer.str() << '\n';
    return false;
}

}  // namespace ASN1
