// The SEQUENCE driver shared by every visitor: the hooks for the root fields, then for the
// extension part. A template over the visitor class, so that a coder declared final has its
// hooks called directly (and inlined) rather than through the virtual table.
#pragma once

#include "asn1/SEQUENCE.h"
#include "asn1/Visitor.h"

namespace ASN1 {

template <class V>
bool walkSequence(V& v, SEQUENCE& seq)
{
    const SequenceInfo* info = seq.info();
    int r = v.preVisitExtensionRoots(seq);
    if (r == Visitor::Fail || r == Visitor::Done)
        return r != Visitor::Fail;
    int last = -1;
    for (unsigned i = 0; i < info->numFields; ++i) {
        int o = info->fieldIds[i];
        int s = v.visitExtensionRoot(seq, static_cast<int>(i), o);
        if (s == Visitor::Fail || s == Visitor::Done)
            return s != Visitor::Fail;
        if (o != -1)
            last = o;
    }
    if (r != Visitor::Continue)
        return true;
    int e = v.preVisitExtensions(seq);
    if (e != Visitor::Continue)
        return e != Visitor::Fail;
    for (unsigned i = info->numFields; i < seq.numSlots(); ++i) {
        ++last;
        int k = v.visitKnownExtension(seq, static_cast<int>(i), last);
        if (k != Visitor::Continue)
            return k != Visitor::Fail;
    }
    return v.visitUnknownExtensions(seq);
}

template <class V>
bool walkSequence(V& v, const SEQUENCE& seq)
{
    const SequenceInfo* info = seq.info();
    if (!v.preVisitExtensionRoots(seq))
        return false;
    int last = -1;
    for (unsigned i = 0; i < info->numFields; ++i) {
        int o = info->fieldIds[i];
        if (o != -1) {
            last = o;
            if (!seq.hasOptionalField(static_cast<unsigned>(o)))
                continue;
        }
        if (!v.visitExtensionRoot(seq, static_cast<int>(i)))
            return false;
    }
    if (seq.extensionMap().size() == 0)
        return v.afterVisitSequence(seq);
    if (!v.preVisitExtensions(seq))
        return false;
    for (unsigned i = info->numFields; i < seq.numSlots(); ++i) {
        ++last;
        if (seq.hasOptionalField(static_cast<unsigned>(last)) && !v.visitKnownExtension(seq, static_cast<int>(i)))
            return false;
    }
    return v.afterVisitSequence(seq);
}

}  // namespace ASN1
