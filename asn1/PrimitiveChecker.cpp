#include "asn1/PrimitiveChecker.h"

#include "asn1/CHOICE.h"
#include "asn1/OpenData.h"

namespace ASN1 {

bool PrimitiveChecker::do_visit(const AbstractData&) { return true; }

// A CHOICE or open type is what it holds; holding nothing, it has no contents to construct.
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

}  // namespace ASN1
