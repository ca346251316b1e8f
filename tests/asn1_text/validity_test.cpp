#include "TextProbe.h"

#include "asn1/ASN1.h"
#include "asn1/InvalidTracer.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace TextProbe;

namespace {

std::string trace(const ASN1::AbstractData& v)
{
    std::ostringstream os;
    bool valid = ASN1::trace_invalid(os, "bad:", v);
    EXPECT_EQ(valid, os.str().empty());
    return os.str();
}

const ASN1::ConstrainedInfo octets1to8Fixed = {{&ASN1::createAs<ASN1::OCTET_STRING>, 4}, ASN1::FixedConstraint, 1, 8};
const ASN1::ConstrainedInfo octets1to8Ext = {{&ASN1::createAs<ASN1::OCTET_STRING>, 4}, ASN1::ExtendableConstraint, 1, 8};
const ASN1::ConstrainedInfo intExt = {{&ASN1::createAs<ASN1::INTEGER>, 2}, ASN1::ExtendableConstraint, 0, 10};

}  // namespace

TEST(Validity, TracerGivesThePathToTheFirstViolation)
{
    Message m;
    m.get_pick().setSelection(Pick::num, new ASN1::INTEGER(1));
    m.get_wide().setSelection(0, new ASN1::Null);
    EXPECT_TRUE(m.isValid() && m.isStrictlyValid());
    EXPECT_EQ(trace(m), "");
    m.includeOptionalField(1, Message::slot);
    m.field<Range<0, 1023>>(Message::slot) = 1024u;
    EXPECT_FALSE(m.isValid());
    EXPECT_EQ(trace(m), "bad:.slot The INTEGER value 1024 is greater than upper bound 1023\n");

    Lists l;
    l.inners().push_back(Inner(true, 1));
    l.inners().push_back(Inner(true, 9));
    EXPECT_EQ(trace(l), "bad:.inners[1].count The INTEGER value 9 is greater than upper bound 7\n");

    Pick p;
    auto* inner = new Inner(false, 0);
    inner->field<Range<0, 7>>(1) = 8u;
    p.setSelection(Pick::inner, inner);
    EXPECT_EQ(trace(p), "bad:.inner.count The INTEGER value 8 is greater than upper bound 7\n");
}

TEST(Validity, IntegerBoundsSignedAndUnsigned)
{
    Numbers n;
    n.field<Range<0, 4294967295u>>(Numbers::u) = 4294967295u;
    n.field<ASN1::INTEGER>(Numbers::s) = -5;
    EXPECT_TRUE(n.isStrictlyValid());
    n.field<ASN1::INTEGER>(Numbers::s) = -129;
    EXPECT_FALSE(n.isValid());
    EXPECT_EQ(trace(n), "bad:.s The INTEGER value -129 is smaller than lower bound -128\n");

    Range<5, 5> five;  // an unsigned range whose lower bound is above 0
    EXPECT_FALSE(five.isValid());
    five = 5u;
    EXPECT_TRUE(five.isStrictlyValid());
    ASN1::INTEGER beyond(11, &intExt);  // extendable: beyond the root still valid
    EXPECT_TRUE(beyond.isValid());
    EXPECT_FALSE(beyond.isStrictlyValid());
    EXPECT_EQ(trace(beyond), "");
}

TEST(Validity, EnumeratedAndChoiceSelections)
{
    Colour extensible;
    extensible.setValue(3);
    EXPECT_TRUE(extensible.isValid());
    EXPECT_FALSE(extensible.isStrictlyValid());
    EXPECT_EQ(trace(extensible), "bad: This ENUMERATED has invalid value 3\n");
    Level level;
    level.setValue(-1);
    EXPECT_TRUE(level.isStrictlyValid());
    level.setValue(2);
    EXPECT_FALSE(level.isValid());

    Pick unset;
    EXPECT_FALSE(unset.isValid());
    EXPECT_FALSE(unset.isStrictlyValid());
    EXPECT_EQ(trace(unset), "bad: This CHOICE is not selected\n");
    Pick unknown;
    unknown.setID(9);
    unknown.createSelection();
    EXPECT_EQ(trace(unknown), "bad: This selection is not understood by this decoder\n");
}

TEST(Validity, SizesAndCharacters)
{
    ASN1::OCTET_STRING ten(10, 'x', &octets1to8Fixed);
    EXPECT_FALSE(ten.isValid());
    EXPECT_EQ(trace(ten), "bad: This OCTET STRING has size 10 greater than its upper bound 8\n");
    ASN1::OCTET_STRING tenExt(10, 'x', &octets1to8Ext);
    EXPECT_TRUE(tenExt.isValid());
    EXPECT_FALSE(tenExt.isStrictlyValid());
    ASN1::OCTET_STRING none(0, 'x', &octets1to8Fixed);
    EXPECT_EQ(trace(none), "bad: This OCTET STRING has size 0 smaller than its lower bound 1\n");

    ASN1::NumericString digits("12a");
    EXPECT_EQ(trace(digits), "bad: The character 'a' is not valid for the string\n");
    ASN1::OpenData nothing;
    EXPECT_EQ(trace(nothing), "bad: This Open Type does not contain any valid data\n");
    EXPECT_FALSE(nothing.isStrictlyValid());
    const char octet[] = {5};
    nothing.set_buf(octet, octet + 1);  // octets kept undecoded count as a value
    EXPECT_TRUE(nothing.isValid() && nothing.isStrictlyValid());
}

