// Every command, answer and signal of the control link, and every agent-link message, decodes
// from its own encoding to an equal value of the same schema classes.
#include "Coding.h"
#include "ReferenceValues.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace {

template <class T>
void expectRoundTrip(const reference::Named<T>& ref)
{
    SCOPED_TRACE(ref.name);
    bool ok = false;
    std::vector<char> bytes = coding::encode(ref.value, &ok);
    ASSERT_TRUE(ok);
    ASSERT_FALSE(bytes.empty());
    T decoded;
    ASSERT_TRUE(coding::decode(bytes, decoded)) << coding::hexText(bytes);
    EXPECT_TRUE(decoded == ref.value) << coding::hexText(bytes);
    EXPECT_EQ(coding::hexText(coding::encode(decoded)), coding::hexText(bytes));
}

TEST(SchemaRoundTrip, EveryCommandAlternative)
{
    std::set<int> seen;
    for (const auto& ref : reference::commands()) {
        expectRoundTrip(ref);
        seen.insert(ref.value.get_pdu().get_command().getID());
    }
    EXPECT_EQ(seen.size(), 15u);
    EXPECT_EQ(*seen.rbegin(), LGCP::Command::e_protoLemz);
}

TEST(SchemaRoundTrip, SuccessAndEveryErrorCause)
{
    std::set<int> causes;
    for (const auto& ref : reference::responses()) {
        expectRoundTrip(ref);
        const LGCP::Response& r = ref.value.get_pdu().get_response();
        if (r.is_error())
            causes.insert(r.get_error().getValue());
    }
    EXPECT_EQ(causes, (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
}

TEST(SchemaRoundTrip, EverySignalAlternative)
{
    std::set<int> seen;
    for (const auto& ref : reference::signals()) {
        expectRoundTrip(ref);
        seen.insert(ref.value.get_pdu().get_signal().getID());
    }
    EXPECT_EQ(seen.size(), 23u);
    EXPECT_EQ(*seen.rbegin(), LGCP::Signal::e_selcal);
}

TEST(SchemaRoundTrip, EveryAgentLinkMessage)
{
    std::set<std::pair<int, int>> seen;
    for (const auto& ref : reference::monMessages()) {
        expectRoundTrip(ref);
        const MON::PDU& pdu = ref.value.get_pdu();
        const ASN1::CHOICE& inner = *static_cast<const ASN1::CHOICE*>(pdu.getSelection());
        seen.insert({pdu.getID(), inner.getID()});
    }
    EXPECT_EQ(seen.size(), 9u);  // 4 commands, 4 responses, 1 signal
}

TEST(SchemaRoundTrip, DecodedComponentsAreObjectsOfTheirSchemaClasses)
{
    const auto refs = reference::commands();
    const auto& create = refs[4];
    ASSERT_EQ(create.name, "command_create_rtp");
    LGCP::Message decoded;
    ASSERT_TRUE(coding::decode(coding::encode(create.value), decoded));
    const ASN1::AbstractData* cmd = decoded.get_pdu().getSelection();
    ASSERT_NE(cmd, nullptr);
    EXPECT_NE(dynamic_cast<const LGCP::Command*>(cmd), nullptr);
    const LGCP::CreateRtpParams& rtp = decoded.get_pdu().get_command().get_create().get_rtp();
    const ASN1::AbstractData* params = rtp.getField(0);
    const ASN1::AbstractData* dname = rtp.get_codecRTP().getField(3);
    EXPECT_NE(dynamic_cast<const TERM::RtpParams*>(params), nullptr);
    EXPECT_NE(dynamic_cast<const TERM::RtpParams::dname::value_type*>(dname), nullptr);
    EXPECT_EQ(rtp.get_codecRTP().get_dname(), std::string("gw1"));
    EXPECT_EQ(rtp.get_codecRTP().get_qos_dscp().asNamedNumber(), TERM::IpQoSDSCP::ef);
    EXPECT_EQ(rtp.get_codecRTP().get_ssrc().getValue(), 4294967295u);
    // a copy is a deep copy of the same classes
    std::unique_ptr<ASN1::AbstractData> copy(decoded.clone());
    EXPECT_NE(dynamic_cast<LGCP::Message*>(copy.get()), nullptr);
    EXPECT_TRUE(*copy == decoded);
}

}  // namespace

namespace {

// The wire carries an enumeration's value as a whole number in 0..maximum: a value between two
// named runs still travels, a value below 0 cannot.
TEST(SchemaEdgeValues, SparseEnumerationValuesOnTheWire)
{
    LGCP::Message m;
    LEMZGW::ProtoLemzPacket packet;
    packet.get_msgID().setValue(4103);  // between gw-remote-keep-alive and gw-rad-ptt-on
    packet.get_payload().set_gw_get_id();
    m.get_pdu().select_command().select_protoLemz().get_packets().push_back(packet);
    bool ok = false;
    std::vector<char> bytes = coding::encode(m, &ok);
    ASSERT_TRUE(ok);
    LGCP::Message decoded;
    ASSERT_TRUE(coding::decode(bytes, decoded));
    EXPECT_EQ(decoded.get_pdu().get_command().get_protoLemz().get_packets()[0].get_msgID().getValue(), 4103);

    LGCP::Message standby;
    TERM::LemzRadioStatus& status = standby.get_pdu().select_signal().select_rtpExt().get_status().select_lemz();
    status.set_standby_state_channel(TERM::RadioStandby::not_use);
    std::vector<char> out{'x'};
    ASN1::CoderEnv env(ASN1::CoderEnv::per);
    EXPECT_FALSE(ASN1::encode(standby, &env, std::back_inserter(out)));
    EXPECT_EQ(out, std::vector<char>{'x'});  // nothing written on failure
    status.set_standby_state_channel(TERM::RadioStandby::active);
    EXPECT_TRUE(ASN1::encode(standby, &env, std::back_inserter(out)));
}

}  // namespace
