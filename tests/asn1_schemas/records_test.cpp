// The generated info records carry the schema exactly: kinds, counts, flags, bounds, names.
#include "asn1/schemas/LGCP.h"
#include "asn1/schemas/MON.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<std::string> names(const char* const* table, unsigned n)
{
    return std::vector<std::string>(table, table + n);
}

TEST(SchemaRecords, ControlMessageRecord)
{
    const ASN1::SequenceInfo& r = LGCP::Message::theInfo;
    EXPECT_EQ(r.head.tag, 16u);
    EXPECT_FALSE(r.extendable);
    ASSERT_EQ(r.numFields, 3u);
    EXPECT_EQ(r.fieldInfos[0], &ASN1::INTEGER::theInfo);
    EXPECT_EQ(r.fieldInfos[1], (&ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023u>::theInfo));
    EXPECT_EQ(r.fieldInfos[2], &LGCP::PDU::theInfo);
    EXPECT_EQ(std::vector<int>(r.fieldIds, r.fieldIds + 3), (std::vector<int>{0, 1, -1}));
    EXPECT_EQ(r.knownExtensions, 0u);
    EXPECT_EQ(r.numOptional, 2u);
    EXPECT_EQ(r.defaultExtensionBitmap, nullptr);
    EXPECT_EQ(r.fieldTags, nullptr);
    EXPECT_EQ(names(r.fieldNames, 3), (std::vector<std::string>{"seq", "slot", "pdu"}));

    const ASN1::ChoiceInfo& pdu = LGCP::PDU::theInfo;
    EXPECT_EQ(pdu.head.tag, 0u);
    EXPECT_FALSE(pdu.extendable);
    EXPECT_EQ(pdu.numChoices, 3u);
    EXPECT_EQ(pdu.totalChoices, 3u);
    EXPECT_EQ(pdu.selectionInfos[1], &LGCP::Response::theInfo);
    EXPECT_EQ(names(pdu.selectionNames, 3), (std::vector<std::string>{"command", "response", "signal"}));
}

TEST(SchemaRecords, NewValuesAreSchemaObjectsWithOnlyMandatoryFields)
{
    std::unique_ptr<ASN1::AbstractData> v(ASN1::createFrom(&LGCP::Message::theInfo));
    auto* m = dynamic_cast<LGCP::Message*>(v.get());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->getField(0), nullptr);
    EXPECT_EQ(m->getField(1), nullptr);
    ASSERT_NE(m->getField(2), nullptr);
    EXPECT_EQ(m->get_pdu().getID(), -1);
    EXPECT_FALSE(m->has_seq());
    m->set_slot(7);
    EXPECT_TRUE(m->has_slot());
    EXPECT_EQ(m->get_slot().getValue(), 7u);
    m->omit_slot();
    EXPECT_FALSE(m->has_slot());
}

TEST(SchemaRecords, AlternativeCountsAndExtensionAdditions)
{
    struct { const ASN1::ChoiceInfo* info; unsigned root, total; bool ext; } cases[] = {
        {&LGCP::Command::theInfo, 15, 15, true},       {&LGCP::Signal::theInfo, 23, 23, true},
        {&LGCP::IoctlParams::theInfo, 38, 38, true},   {&LGCP::CreateParams::theInfo, 19, 19, true},
        {&LGCP::DisplayParams::theInfo, 7, 7, true},   {&LGCP::Response::theInfo, 2, 2, false},
        {&LGCP::TonecCode::theInfo, 6, 7, true},       {&MON::Command::theInfo, 4, 4, true},
        {&MON::Response::theInfo, 4, 4, true},         {&MON::Signal::theInfo, 1, 1, true},
        {&MON::PDU::theInfo, 3, 3, false},
        {&LEMZGW::ProtoLemzPacketPayload::theInfo, 66, 66, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.info->numChoices, c.root);
        EXPECT_EQ(c.info->totalChoices, c.total);
        EXPECT_EQ(c.info->extendable, c.ext);
    }
    EXPECT_STREQ(LGCP::TonecCode::theInfo.selectionNames[6], "dtmfDone");
    EXPECT_STREQ(LGCP::CreateParams::theInfo.selectionNames[8], "trunk_bri");
    EXPECT_STREQ(LGCP::IoctlParams::theInfo.selectionNames[37], "selcal");
}

TEST(SchemaRecords, OptionalMapsAndSizeConstrainedString)
{
    const ASN1::SequenceInfo& rtp = TERM::RtpParams::theInfo;
    EXPECT_EQ(rtp.numFields, 14u);
    EXPECT_EQ(rtp.numOptional, 12u);
    EXPECT_TRUE(rtp.extendable);
    EXPECT_EQ(rtp.fieldIds[2], 0);   // shost
    EXPECT_EQ(rtp.fieldIds[13], 11); // qos-dscp
    const auto& dname = TERM::RtpParams::dname::value_type::theInfo;
    EXPECT_EQ(rtp.fieldInfos[3], &dname);
    EXPECT_EQ(dname.size.head.tag, 22u);
    EXPECT_EQ(dname.size.constraint, ASN1::FixedConstraint);
    EXPECT_EQ(dname.size.lowerLimit, 1);
    EXPECT_EQ(dname.size.upperLimit, 64u);
    EXPECT_EQ(dname.characterSet, ASN1::IA5StringSet);
    EXPECT_EQ(dname.characterSetSize, 128u);

    EXPECT_EQ(MON::SnmpTrapsink::theInfo.numOptional, 1u);
    EXPECT_EQ(MON::Message::theInfo.numFields, 1u);
    EXPECT_FALSE(MON::Message::theInfo.extendable);
    EXPECT_FALSE(TERM::RadioCommandGWSetFlags::theInfo.extendable);
    EXPECT_TRUE(TERM::RadioCommandWMStandby::theInfo.extendable);
    EXPECT_EQ(ACP::IsdnLinkInfo::theInfo.numFields, 29u);
}

TEST(SchemaRecords, EnumerationTablesGiveValuesThatAreNotIndexes)
{
    const ASN1::EnumeratedInfo& cause = LGCP::ErrorCause::theInfo;
    EXPECT_EQ(cause.head.tag, 10u);
    EXPECT_TRUE(cause.extendable);
    EXPECT_EQ(cause.maxEnumValue, 12);
    ASSERT_EQ(cause.numNames, 13u);
    EXPECT_STREQ(cause.names[0], "invalidParams");
    EXPECT_STREQ(cause.names[12], "destroyInProgress");
    EXPECT_FALSE(LGCP::POWERStatus::theInfo.extendable);
    EXPECT_EQ(LGCP::POWERStatus::theInfo.maxEnumValue, 3);
    EXPECT_EQ(LGCP::DeactivateCause::theInfo.maxEnumValue, 1);

    const ASN1::EnumeratedInfo& standby = TERM::RadioStandby::theInfo;
    EXPECT_EQ(standby.maxEnumValue, 1);
    EXPECT_EQ(names(standby.names, standby.numNames),
              (std::vector<std::string>{"not-use=-1", "active", "standby"}));

    const ASN1::EnumeratedInfo& dscp = TERM::IpQoSDSCP::theInfo;
    EXPECT_EQ(dscp.maxEnumValue, 56);
    ASSERT_EQ(dscp.numNames, 24u);
    EXPECT_STREQ(dscp.names[2], "cs1=8");
    EXPECT_STREQ(dscp.names[19], "voice-admit=44");
    EXPECT_STREQ(dscp.names[23], "count=23");

    EXPECT_EQ(TERM::ED137CauseCode::theInfo.maxEnumValue, 2099);
    EXPECT_STREQ(TERM::ED137CauseCode::theInfo.names[0], "radio-session-pre-emption=2000");
    EXPECT_STREQ(TERM::ED137CauseCode::theInfo.names[16], "radio-no-permissions=2099");

    const ASN1::EnumeratedInfo& ids = LEMZGW::ProtoLemzMsgID::theInfo;
    EXPECT_EQ(ids.maxEnumValue, 13056);
    ASSERT_EQ(ids.numNames, 66u);
    std::vector<std::string> runs;
    for (unsigned i = 0; i < ids.numNames; ++i)
        if (std::string(ids.names[i]).find('=') != std::string::npos)
            runs.push_back(ids.names[i]);
    EXPECT_EQ(runs, (std::vector<std::string>{
                        "gw-get-id=4097", "gw-rad-ptt-on=4116", "gw-rad-rs485-cmd=4128", "gw-ggs-command=4352",
                        "gw-dcon-command=4368", "gw-rad-command=4384", "gw-test=4608", "gw-client-p1=4864",
                        "gw-show-debug=5120", "dli-set-id=8192", "dli-keep-alive=8208", "dli-rad-bss-qual=8224",
                        "dli-debug=8449", "dli-server-p1=8960", "dli-hw-state=9216", "dli-set-info=9472",
                        "ali-set-id=12288", "ali-keep-alive=12304", "ali-rad-rs485-sts=12320", "ali-debug=12545",
                        "ali-hw-state=12800", "ali-server-p1=13056"}));

    const ASN1::EnumeratedInfo& gain = LEMZGW::ProtoLemzAnalogGainIDV1::theInfo;
    EXPECT_EQ(gain.maxEnumValue, 255);
    EXPECT_EQ(names(gain.names, gain.numNames),
              (std::vector<std::string>{"rtx1", "rr1", "rc1", "rrx1", "rtx2", "rr2", "rc2", "rrx2", "rdoc1", "rdoc2",
                                        "rsh", "fake=255", "min=0", "max=10", "mux", "spi"}));
    EXPECT_EQ(LEMZGW::ProtoLemzAnalogGainIDV1::mux, 11);
    EXPECT_EQ(LEMZGW::ProtoLemzAnalogGainIDV2::theInfo.maxEnumValue, 255);
}

}  // namespace
