#include "asn1/PrimitiveChecker.h"

#include "asn1/ASN1.h"

namespace ASN1 {

bool PrimitiveChecker::do_visit(const AbstractData&) { return true; }

// An untagged CHOICE or open type has no header of its own: what shows is the carried value.
// With nothing to carry there is no contents either, which counts as primitive.
bool PrimitiveChecker::do_visit(const CHOICE& v)
{
    return v.getSelection() ? v.getSelection()->accept(*this) : true;
}

bool PrimitiveChecker::do_visit(const OpenData& v)
{
    return v.has_data() ? v.get_data()->accept(*this) : true;
}

bool PrimitiveChecker::do_visit(const SEQUENCE_OF_Base&) { return false; }
bool PrimitiveChecker::preVisitExtensionRoots(const SEQUENCE&) { return false; }

bool isPrimitive(const AbstractData& value)
{
    PrimitiveChecker checker;
    return value.accept(checker);
}

}  // namespace ASN1
