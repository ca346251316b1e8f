#include "asn1/ValidChecker.h"

#include "asn1/ASN1.h"

namespace ASN1 {

namespace {

bool sizeValid(const ConstrainedInfo& c, unsigned size, bool strict)
{
    if (size < static_cast<unsigned>(c.lowerLimit))
        return false;
    if (strict)
        return size <= c.upperLimit;
    return c.constraint != FixedConstraint || size <= c.upperLimit;
}

}  // namespace

bool ValidChecker::do_visit(const Null&) { return true; }
bool ValidChecker::do_visit(const BOOLEAN&) { return true; }
bool ValidChecker::do_visit(const INTEGER& v)
{
    return v.info()->constraint == ExtendableConstraint || v.isStrictValid();
}
bool ValidChecker::do_visit(const ENUMERATED& v) { return v.extendable() || v.isStrictlyValid(); }
bool ValidChecker::do_visit(const OBJECT_IDENTIFIER& v) { return !v.arcs().empty(); }
bool ValidChecker::do_visit(const BIT_STRING& v) { return sizeValid(*v.info(), v.size(), false); }
bool ValidChecker::do_visit(const OCTET_STRING& v)
{
    return sizeValid(*v.info(), static_cast<unsigned>(v.size()), false);
}
bool ValidChecker::do_visit(const AbstractString& v) { return v.isValid(); }
bool ValidChecker::do_visit(const BMPString& v) { return v.isValid(); }
bool ValidChecker::do_visit(const CHOICE& v) { return v.isValid(); }
bool ValidChecker::do_visit(const OpenData& v) { return v.isValid(); }
bool ValidChecker::do_visit(const GeneralizedTime& v) { return v.isStrictlyValid(); }
bool ValidChecker::do_visit(const SEQUENCE_OF_Base& v) { return v.isValid(); }
bool ValidChecker::visitExtensionRoot(const SEQUENCE& seq, int index)
{
    const AbstractData* f = seq.getField(index);
    return f && f->isValid();
}
bool ValidChecker::visitKnownExtension(const SEQUENCE& seq, int index)
{
    return visitExtensionRoot(seq, index);
}

bool StrictlyValidChecker::do_visit(const Null&) { return true; }
bool StrictlyValidChecker::do_visit(const BOOLEAN&) { return true; }
bool StrictlyValidChecker::do_visit(const INTEGER& v) { return v.isStrictValid(); }
bool StrictlyValidChecker::do_visit(const ENUMERATED& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(const OBJECT_IDENTIFIER& v) { return !v.arcs().empty(); }
bool StrictlyValidChecker::do_visit(const BIT_STRING& v) { return sizeValid(*v.info(), v.size(), true); }
bool StrictlyValidChecker::do_visit(const OCTET_STRING& v)
{
    return sizeValid(*v.info(), static_cast<unsigned>(v.size()), true);
}
bool StrictlyValidChecker::do_visit(const AbstractString& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(const BMPString& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(const CHOICE& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(const OpenData& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(const GeneralizedTime& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::do_visit(const SEQUENCE_OF_Base& v) { return v.isStrictlyValid(); }
bool StrictlyValidChecker::visitExtensionRoot(const SEQUENCE& seq, int index)
{
    const AbstractData* f = seq.getField(index);
    return f && f->isStrictlyValid();
}
bool StrictlyValidChecker::visitKnownExtension(const SEQUENCE& seq, int index)
{
    return visitExtensionRoot(seq, index);
}

}  // namespace ASN1
