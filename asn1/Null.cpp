#include "asn1/Null.h"

#include "asn1/Visitor.h"

namespace ASN1 {

const TypeInfo Null::theInfo = {&createAs<Null>, 5};

int Null::do_compare(const AbstractData&) const { return 0; }
AbstractData* Null::do_clone() const { return createFrom(infoRecord()); }
bool Null::do_accept(Visitor& v) { return v.do_visit(*this); }
bool Null::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

}  // namespace ASN1
