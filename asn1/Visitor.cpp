#include "asn1/Visitor.h"

#include "asn1/ASN1.h"

namespace ASN1 {

bool Visitor::do_visit(IntegerWithNamedNumber& v) { return do_visit(static_cast<INTEGER&>(v)); }
int Visitor::preVisitExtensionRoots(SEQUENCE&) { return Continue; }
int Visitor::visitExtensionRoot(SEQUENCE&, int, int) { return Fail; }
int Visitor::preVisitExtensions(SEQUENCE&) { return Continue; }
int Visitor::visitKnownExtension(SEQUENCE&, int, int) { return Fail; }
bool Visitor::visitUnknownExtensions(SEQUENCE&) { return true; }

bool Visitor::visit(SEQUENCE& seq)
{
    const SequenceInfo* info = seq.info();
    int r = preVisitExtensionRoots(seq);
    if (r == Fail || r == Done)
        return r != Fail;
    int last = -1;
    for (unsigned i = 0; i < info->numFields; ++i) {
        int o = info->fieldIds[i];
        int s = visitExtensionRoot(seq, static_cast<int>(i), o);
        if (s == Fail || s == Done)
            return s != Fail;
        if (o != -1)
            last = o;
    }
    if (r != Continue)
        return true;
    int e = preVisitExtensions(seq);
    if (e != Continue)
        return e != Fail;
    for (unsigned i = info->numFields; i < seq.numSlots(); ++i) {
        ++last;
        int k = visitKnownExtension(seq, static_cast<int>(i), last);
        if (k != Continue)
            return k != Fail;
    }
    return visitUnknownExtensions(seq);
}

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

bool ConstVisitor::visit(const SEQUENCE& seq)
{
    const SequenceInfo* info = seq.info();
    if (!preVisitExtensionRoots(seq))
        return false;
    int last = -1;
    for (unsigned i = 0; i < info->numFields; ++i) {
        int o = info->fieldIds[i];
        if (o != -1) {
            last = o;
            if (!seq.hasOptionalField(static_cast<unsigned>(o)))
                continue;
        }
        if (!visitExtensionRoot(seq, static_cast<int>(i)))
            return false;
    }
    if (seq.extensionMap().size() == 0)
        return afterVisitSequence(seq);
    if (!preVisitExtensions(seq))
        return false;
    for (unsigned i = info->numFields; i < seq.numSlots(); ++i) {
        ++last;
        if (seq.hasOptionalField(static_cast<unsigned>(last)) && !visitKnownExtension(seq, static_cast<int>(i)))
            return false;
    }
    return afterVisitSequence(seq);
}

}  // namespace ASN1
