// The coder entry points: rule selection, appending output, failure leaving output untouched.
#include "asn1/CoderEnv.h"
#include "tests/asn1/Codec.h"
#include "tests/asn1/ProbeSchema.h"

#include <gtest/gtest.h>

#include <iterator>

TEST(CoderEnv, EncodeAppendsAndDecodeFillsWithEitherDeferFlag)
{
    Probe::Message m;
    m.field<Probe::Pick>(Probe::Message::pick).setSelection(Probe::Pick::num, new ASN1::INTEGER(300));
    m.field<Probe::ExtPick>(Probe::Message::ext).setSelection(Probe::ExtPick::c, new ASN1::IA5String("x"));
    ASN1::CoderEnv env(ASN1::CoderEnv::per);
    std::vector<char> out{'k'};
    ASSERT_TRUE(ASN1::encode(m, &env, std::back_inserter(out)));
    EXPECT_EQ(out[0], 'k');
    const size_t once = out.size() - 1;

    Probe::Message deferred, immediate;
    ASSERT_TRUE(ASN1::decode(out.data() + 1, out.data() + 1 + once, &env, deferred, true));
    ASSERT_TRUE(ASN1::decode(out.data() + 1, out.data() + 1 + once, &env, immediate, false));
    EXPECT_EQ(deferred.compare(immediate), 0);
    EXPECT_EQ(deferred.compare(m), 0);
}

TEST(CoderEnv, UnknownRuleAndFailedEncodingTouchNothing)
{
    ASN1::INTEGER v(5);
    std::vector<char> out{'k'};
    ASN1::CoderEnv bad(3);
    EXPECT_FALSE(ASN1::encode(v, &bad, std::back_inserter(out)));
    const char in[] = "\x01\x05";
    EXPECT_FALSE(ASN1::decode(in, in + 2, &bad, v, true));
    EXPECT_EQ(v.getValue(), 5);

    ASN1::CoderEnv per(ASN1::CoderEnv::per);
    Probe::Numbers partial;  // fails at its fifth field, after the first ones were written
    partial.field<Asn1Test::Range<5, 5>>(7) = 5u;
    partial.field<Asn1Test::Range<0, 1023>>(4) = 5000u;
    EXPECT_FALSE(ASN1::encode(partial, &per, std::back_inserter(out)));
    EXPECT_EQ(out, std::vector<char>{'k'});
    EXPECT_TRUE(per.modules().empty());
}
