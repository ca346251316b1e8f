// Value notation and validity of real control-protocol messages: the text operators see.
#include "Golden.h"

#include "asn1/ASN1.h"
#include "asn1/InvalidTracer.h"
#include "asn1/schemas/LGCP.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

LGCP::Message connect7()
{
    LGCP::Message m;
    m.set_seq(5);
    m.set_slot(3);
    m.get_pdu().select_command().select_connect() = 7u;
    return m;
}

LGCP::Message errorResponse()
{
    LGCP::Message m;
    m.set_seq(9);
    m.get_pdu().select_response().set_error(LGCP::ErrorCause::slotNotExists);
    return m;
}

LGCP::Message dtmfSignal()
{
    LGCP::Message m;
    m.set_slot(12);
    LGCP::TonecEvent& e = m.get_pdu().select_signal().select_tonec();
    e.set_timestamp(123456);
    e.get_event().select_dtmf() = 11u;
    return m;
}

LGCP::Message displayTrapReceivers()
{
    LGCP::Message m;
    m.set_seq(1);
    auto& list = m.get_pdu().select_command().select_display().select_snmpTrapReceivers();
    list.push_back(ASN1::IA5String("10.0.0.1:162"));
    list.push_back(ASN1::IA5String("trap \"host\""));
    return m;
}

LGCP::Message termCounter()
{
    LGCP::Message m;
    LGCP::TermCounter& c = m.get_pdu().select_command().select_display().select_termCounter();
    c.set_owner(LGCP::TermCounterOwner::controller);
    c.set_cnt(4);
    return m;
}

LGCP::Message userData()
{
    LGCP::Message m;
    m.set_slot(0);
    m.get_pdu().select_signal().select_userData() = std::vector<char>{0x0a, char(0xff), 0x00};
    return m;
}

}  // namespace

TEST(ProtocolText, GoldenTextsOfControlMessages)
{
    std::vector<std::pair<std::string, std::string>> texts = {
        {"command-connect", connect7().asValueNotation()},
        {"response-error", errorResponse().asValueNotation()},
        {"signal-dtmf", dtmfSignal().asValueNotation()},
        {"display-trap-receivers", displayTrapReceivers().asValueNotation()},
        {"display-term-counter", termCounter().asValueNotation()},
        {"signal-user-data", userData().asValueNotation()},
    };
    golden::check("protocol.avn", texts);
    // Every text reads back to the same message.
    for (const auto& [name, text] : texts) {
        LGCP::Message back;
        EXPECT_TRUE(back.setFromValueNotation(text)) << name;
        EXPECT_EQ(back.asValueNotation(), text) << name;
    }
}

TEST(ProtocolText, ControlMessagesThroughBer)
{
    const ASN1::CoderEnv env(ASN1::CoderEnv::ber);
    // pdu and command are CHOICEs, so explicitly tagged; connect is [2] IMPLICIT INTEGER.
    std::vector<char> connect;
    ASSERT_TRUE(ASN1::encode(connect7(), &env, std::back_inserter(connect)));
    const char expected[] = "\x30\x0d\x80\x01\x05\x81\x01\x03\xa2\x05\xa0\x03\x82\x01\x07";
    EXPECT_EQ(connect, std::vector<char>(expected, expected + sizeof expected - 1));
    for (const LGCP::Message& m : {connect7(), errorResponse(), dtmfSignal(), displayTrapReceivers(), termCounter(),
                                    userData()}) {
        std::vector<char> bytes;
        ASSERT_TRUE(ASN1::encode(m, &env, std::back_inserter(bytes)));
        LGCP::Message back;
        ASSERT_TRUE(ASN1::decode(bytes.data(), bytes.data() + bytes.size(), &env, back));
        EXPECT_EQ(back.compare(m), 0) << m.asValueNotation();
    }
}

TEST(ProtocolText, InvalidControlMessagesAreTraced)
{
    std::ostringstream os;
    EXPECT_TRUE(ASN1::trace_invalid(os, "msg", connect7()));
    EXPECT_EQ(os.str(), "");

    LGCP::Message slot = connect7();
    slot.get_slot() = 1024u;
    EXPECT_FALSE(ASN1::trace_invalid(os, "msg", slot));
    EXPECT_EQ(os.str(), "msg.slot The INTEGER value 1024 is greater than upper bound 1023\n");

    LGCP::Signal signal;
    signal.select_tonec().get_event().select_dtmf() = 200u;
    os.str("");
    EXPECT_FALSE(ASN1::trace_invalid(os, "", signal));
    EXPECT_EQ(os.str(), ".tonec.event.dtmf The INTEGER value 200 is greater than upper bound 127\n");

    LGCP::TonecCode done;
    done.select_dtmfDone();  // an extension addition
    EXPECT_TRUE(done.isValid());
    EXPECT_FALSE(done.isStrictlyValid());
}
