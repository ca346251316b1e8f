// The SEQUENCE drivers of both visitor interfaces: which hooks run, in which order, and
// how their result codes end the walk.
#include "asn1/ASN1.h"
#include "asn1/PrimitiveChecker.h"
#include "tests/asn1/ProbeSchema.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Records the hooks it sees and answers with the codes it is given.
class Recorder : public ASN1::Visitor {
public:
    int pre = Continue, root = Continue, ext = Continue, known = Continue;
    std::string log;

#define VX_ACCEPT(T) \
    bool do_visit(ASN1::T&) override { return true; }
    VX_ACCEPT(Null) VX_ACCEPT(BOOLEAN) VX_ACCEPT(INTEGER) VX_ACCEPT(ENUMERATED) VX_ACCEPT(OBJECT_IDENTIFIER)
    VX_ACCEPT(OCTET_STRING) VX_ACCEPT(BIT_STRING) VX_ACCEPT(AbstractString) VX_ACCEPT(BMPString) VX_ACCEPT(CHOICE)
    VX_ACCEPT(SEQUENCE_OF_Base) VX_ACCEPT(OpenData) VX_ACCEPT(TypeConstrainedOpenData) VX_ACCEPT(GeneralizedTime)
#undef VX_ACCEPT
    bool do_revisit(ASN1::OpenData&) override { return true; }
    int preVisitExtensionRoots(ASN1::SEQUENCE&) override { log += "P"; return pre; }
    int visitExtensionRoot(ASN1::SEQUENCE&, int i, int o) override
    {
        log += "R" + std::to_string(i) + ":" + std::to_string(o);
        return root;
    }
    int preVisitExtensions(ASN1::SEQUENCE&) override { log += "E"; return ext; }
    int visitKnownExtension(ASN1::SEQUENCE&, int i, int o) override
    {
        log += "K" + std::to_string(i) + ":" + std::to_string(o);
        return known;
    }
    bool visitUnknownExtensions(ASN1::SEQUENCE&) override { log += "U"; return true; }
};

class ConstRecorder : public ASN1::ConstVisitor {
public:
    std::string log;
    bool preVisitExtensionRoots(const ASN1::SEQUENCE&) override { log += "P"; return true; }
    bool visitExtensionRoot(const ASN1::SEQUENCE&, int i) override { log += "R" + std::to_string(i); return true; }
    bool preVisitExtensions(const ASN1::SEQUENCE&) override { log += "E"; return true; }
    bool visitKnownExtension(const ASN1::SEQUENCE&, int i) override { log += "K" + std::to_string(i); return true; }
    bool afterVisitSequence(const ASN1::SEQUENCE&) override { log += "A"; return true; }
};

}  // namespace

TEST(Visitors, MutableDriverResultCodes)
{
    using V = ASN1::Visitor;
    const struct { int pre, root, ext; bool ok; const char* log; } rows[] = {
        {V::Done, V::Continue, V::Continue, true, "P"},
        {V::NoExtensions, V::Continue, V::Continue, true, "PR0:-1R1:-1R2:-1R3:0R4:-1R5:-1R6:-1"},
        {V::Continue, V::Continue, V::Continue, true, "PR0:-1R1:-1R2:-1R3:0R4:-1R5:-1R6:-1EK7:1K8:2U"},
        {V::Continue, V::Continue, V::Fail, false, "PR0:-1R1:-1R2:-1R3:0R4:-1R5:-1R6:-1E"},
        {V::Continue, V::Fail, V::Continue, false, "PR0:-1"}};
    Probe::Message m;  // 7 root fields (inner optional, id 0), 2 known additions
    for (const auto& r : rows) {
        Recorder recorder;
        recorder.pre = r.pre;
        recorder.root = r.root;
        recorder.ext = r.ext;
        EXPECT_EQ(m.accept(recorder), r.ok) << r.log;
        EXPECT_EQ(recorder.log, r.log);
    }
}

TEST(Visitors, ConstDriverOffersPresentFieldsOnly)
{
    Probe::Message m;
    ConstRecorder plain;
    EXPECT_TRUE(m.accept(plain));
    EXPECT_EQ(plain.log, "PR0R1R2R4R5R6A");  // inner absent, no extension map

    m.includeOptionalField(0, Probe::Message::inner);
    m.includeOptionalField(2, Probe::Message::added2);
    m.removeOptionalField(2);
    m.includeOptionalField(1, Probe::Message::added1);
    m.removeOptionalField(1);
    m.includeOptionalField(2, Probe::Message::added2);
    ConstRecorder ext;
    EXPECT_TRUE(m.accept(ext));
    EXPECT_EQ(ext.log, "PR0R1R2R3R4R5R6EK8A");
}

TEST(Visitors, PrimitiveChecker)
{
    ASN1::PrimitiveChecker checker;
    Probe::Inner inner;
    EXPECT_FALSE(inner.accept(checker));
    ASN1::INTEGER i;
    EXPECT_TRUE(i.accept(checker));
    Probe::ExtPick pick;
    pick.setSelection(Probe::ExtPick::d, new Probe::Inner);
    EXPECT_FALSE(pick.accept(checker));
    Probe::Pick none;
    none.setSelection(Probe::Pick::none, new ASN1::Null);
    EXPECT_TRUE(none.accept(checker));
}
