#include "asn1/Visitor.h"

#include "asn1/ASN1.h"
#include "asn1/SequenceWalk.h"

namespace ASN1 {

bool Visitor::do_visit(IntegerWithNamedNumber& v) { return do_visit(static_cast<INTEGER&>(v)); }
int Visitor::preVisitExtensionRoots(SEQUENCE&) { return Continue; }
int Visitor::visitExtensionRoot(SEQUENCE&, int, int) { return Fail; }
int Visitor::preVisitExtensions(SEQUENCE&) { return Continue; }
int Visitor::visitKnownExtension(SEQUENCE&, int, int) { return Fail; }
bool Visitor::visitUnknownExtensions(SEQUENCE&) { return true; }

bool Visitor::visit(SEQUENCE& seq) { return walkSequence(*this, seq); }

bool ConstVisitor::do_visit(const AbstractData&) { return true; }
bool ConstVisitor::do_visit(const Null& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const BOOLEAN& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const INTEGER& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const IntegerWithNamedNumber& v) { return do_visit(static_cast<const INTEGER&>(v)); }
bool ConstVisitor::do_visit(const ENUMERATED& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const OBJECT_IDENTIFIER& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const BIT_STRING& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const OCTET_STRING& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const AbstractString& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const BMPString& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const CHOICE& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const OpenData& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const GeneralizedTime& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const SEQUENCE_OF_Base& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::preVisitExtensionRoots(const SEQUENCE& seq) { return do_visit(static_cast<const AbstractData&>(seq)); }
bool ConstVisitor::visitExtensionRoot(const SEQUENCE&, int) { return false; }
bool ConstVisitor::preVisitExtensions(const SEQUENCE&) { return true; }
bool ConstVisitor::visitKnownExtension(const SEQUENCE&, int) { return false; }
bool ConstVisitor::afterVisitSequence(const SEQUENCE&) { return true; }

bool ConstVisitor::visit(const SEQUENCE& seq) { return walkSequence(*this, seq); }

}  // namespace ASN1
