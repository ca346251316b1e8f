#include "ReferenceValues.h"

#include <optional>

namespace reference {
namespace {

using Slot = std::optional<unsigned>;

LGCP::Message message(std::optional<int> seq, Slot slot)
{
    LGCP::Message m;
    if (seq)
        m.set_seq(*seq);
    if (slot)
        m.set_slot(*slot);
    return m;
}

// A command message; the returned message's command is filled by the caller.
LGCP::Command& command(LGCP::Message& m)
{
    return m.get_pdu().select_command();
}

LGCP::Signal& signal(LGCP::Message& m)
{
    return m.get_pdu().select_signal();
}

TERM::HostAddress host(const char* addr, unsigned port)
{
    TERM::HostAddress h;
    h.set_iaddr(addr);
    h.set_port(port);
    return h;
}

TERM::RadioFlags radioFlags()
{
    TERM::RadioFlags f;
    f.set_prio(3);
    f.set_ptt(true);
    f.set_bss(false);
    f.set_vad_rx(true);
    f.set_vad_tx(false);
    f.set_sql(true);
    f.set_sh(false);
    f.set_pwr(true);
    f.set_rv(false);
    f.set_resv(true);
    f.set_selcall(2);
    f.set_li(511);
    return f;
}

TERM::RtpParams rtpParams()
{
    TERM::RtpParams p;
    p.set_payload(TERM::Payload::ptG729);
    p.set_dhost(host("10.1.2.3", 5004));
    p.set_shost(host("192.168.0.1", 65535));
    p.set_dname("gw1");
    TERM::RtpJitter& jitter = p.include_jitter();
    jitter.set_start(40);
    jitter.set_max(200);
    p.set_pfactor(2);
    p.set_crate(-1);
    p.set_vad(true);
    TERM::RtpEcho& echo = p.include_echo();
    echo.set_suppressor(false);
    echo.set_canceller(true);
    TERM::RtpE2M& e2m = p.include_rtp_e2m();
    e2m.set_slot(7);
    e2m.set_channel(1);
    TERM::RtpExtDescription& only = e2m.include_mode().select_only_rtp();
    only.set_fd(3);
    only.set_pid(1234);
    p.set_ssrc(4294967295u);
    p.set_ttl(64);
    p.set_qos_dscp(TERM::IpQoSDSCP::ef);
    return p;
}

TERM::ED137RadioHeader ed137Header()
{
    TERM::ED137RadioHeader h;
    h.set_ptt(TERM::ED137RadioPTT::priority_ptt_on);
    h.set_squ(TERM::ED137RadioSQU::squ_on);
    h.set_ptt_id(63);
    h.set_ptt_mute(false);
    h.set_ptt_summation(true);
    h.set_sct(false);
    return h;
}

TERM::ED137RadioResponse ed137Response()
{
    TERM::ED137RadioResponse r;
    r.set_ls_pl(TERM::ED137RadioLinkedSessionProtection::ls_deletion_enabled);
    r.set_type(TERM::ED137RadioType::radio_txrx);
    r.set_txrxmode(TERM::ED137RadioTxRxMode::txrx);
    r.set_bss(TERM::ED137RadioBSSMethod::psd);
    r.set_sigtime(50);
    r.set_r2s_keepalive_period(200);
    r.set_fid(399975);
    r.set_ptt_id(1);
    r.set_rtphe(1);
    r.set_no_freq_disconn();
    r.set_rx_multicast_addr("239.1.1.1");
    r.set_code(TERM::ED137CauseCode::radio_no_permissions);
    r.set_qos_dscp(TERM::IpQoSDSCP::cs1);
    r.set_transmission_depend_on_squ(true);
    return r;
}

}  // namespace

std::vector<Named<LGCP::Message>> commands()
{
    std::vector<Named<LGCP::Message>> v;
    auto add = [&](const char* name, LGCP::Message m) { v.push_back({std::string("command_") + name, m}); };

    LGCP::Message m = message(0, {});
    command(m).set_query();
    add("query", m);

    m = message(2, {});
    LGCP::BpcTestParams& bpc = command(m).select_testBpc();
    bpc.set_bus(15);
    bpc.set_seed(0x12345678);
    bpc.get_mode().set_write();
    bpc.set_timeslot_start(0);
    bpc.set_timeslot_length(127);
    add("testBpc", m);

    m = message(3, 0u);
    command(m).set_connect(1023);
    add("connect", m);

    m = message(-1, 1023u);
    command(m).set_disconnect();
    add("disconnect", m);

    m = message(5, 10u);
    LGCP::CreateRtpParams& rtp = command(m).select_create().select_rtp();
    rtp.set_codecRTP(rtpParams());
    rtp.set_txPayload(TERM::Payload::ptG711_Alaw);
    rtp.set_rxPayload(TERM::Payload::ptR2S);
    add("create_rtp", m);

    m = message(6, 11u);
    LGCP::TrunkParams& bri = command(m).select_create().select_trunk_bri();
    bri.set_trunk(255);
    bri.set_timeslot(31);
    add("create_trunk_bri", m);

    m = message(7, 12u);
    LGCP::AtsQsigBParams& qsig = command(m).select_create().select_ats_qsig_b();
    qsig.set_slot(1023);
    qsig.set_subslot(3);
    add("create_ats_qsig_b", m);

    m = message(8, 13u);
    TERM::ModemParams& modem = command(m).select_create().select_modem();
    modem.set_cid("100");
    modem.set_cdid("200");
    modem.include_ddm().push_back(TERM::DigitalDataModeEnum::ddm8BIT);
    modem.include_ddm().push_back(TERM::DigitalDataModeEnum::ddmV120);
    TERM::DDModemParam dmp;
    dmp.set_offset(1);
    dmp.set_value(-5);
    modem.include_dmp().push_back(dmp);
    modem.set_fax();
    modem.include_execargs().push_back(ASN1::IA5String("-v"));
    modem.include_execargs().push_back(ASN1::IA5String("-x"));
    add("create_modem", m);

    m = message(9, 14u);
    command(m).set_destroy();
    add("destroy", m);

    m = message(10, 15u);
    TERM::ModemUserParameters& user = command(m).select_activate().select_modem();
    user.set_remoteAddr("10.0.0.2");
    user.set_netmask("255.255.255.0");
    user.set_gateway("10.0.0.1");
    user.set_dns("8.8.8.8");
    user.set_mtu(1500);
    add("activate", m);

    m = message(11, 16u);
    command(m).set_deactivate();
    add("deactivate", m);

    m = message(12, 17u);
    std::string bytes;
    for (int i = 0; i < 200; ++i)
        bytes.push_back(static_cast<char>(i));
    command(m).set_userData(bytes);
    add("userData", m);

    m = message(13, {});
    LGCP::CasCommand& cas = command(m).select_ioctl().select_cas();
    cas.get_channel().set_path(1);
    cas.get_channel().set_timeslot(16);
    cas.get_cmd().set_set(0x0D);
    add("ioctl_cas", m);

    m = message(14, 18u);
    TERM::LemzRadioModifier& lemz = command(m).select_ioctl().select_rtpExt().select_lemz();
    lemz.get_addr().set_session_addr("10.0.0.9");
    lemz.get_addr().set_session_ssrc(0x80000000u);
    TERM::RadioCommandGWSetSelCall& selcall = lemz.get_params().select_gw_set_selcall();
    selcall.set_flags(radioFlags());
    selcall.set_ip("10.0.0.10");
    selcall.set_ssrc(17);
    selcall.set_cid("A");
    add("ioctl_rtpExt", m);

    m = message(15, 19u);
    TERM::SelcalCommand& sel = command(m).select_ioctl().select_selcal();
    sel.set_amp(-12);
    sel.set_signs("12345");
    add("ioctl_selcal", m);

    m = message(16, {});
    LGCP::TrunkCfg& trunk = command(m).select_trunkCfg();
    trunk.set_trunk(3);
    trunk.set_mode(LGCP::TrunkMode::master);
    add("trunkCfg", m);

    m = message(17, {});
    LGCP::ClockCfg& clock = command(m).select_clockCfg();
    clock.set_clkSel0(LGCP::ClkSel0::internal);
    clock.set_bextEn(LGCP::BExtEn::disabled);
    clock.set_source(2);
    add("clockCfg", m);

    m = message(2147483647, {});
    command(m).set_ping();
    add("ping", m);

    m = message(18, {});
    MON::SnmpSetCommands& set = command(m).select_display().select_snmp_set();
    MON::SnmpSetCommand c1;
    c1.set_uniq(1);
    MON::IniName& name = c1.get_id().select_name();
    name.set_section("power");
    name.set_name("state");
    name.set_index(0);
    c1.set_value("main");
    set.get_commands().push_back(c1);
    MON::SnmpSetCommand c2;
    c2.set_uniq(2);
    c2.get_id().set_oid("1.3.6.1.4.1");
    c2.set_value("7");
    set.get_commands().push_back(c2);
    add("display", m);

    m = message(19, {});
    command(m).select_protoLemz();
    add("protoLemz", m);
    return v;
}

std::vector<Named<LGCP::Message>> responses()
{
    std::vector<Named<LGCP::Message>> v;
    LGCP::Message ok = message(1, 5u);
    ok.get_pdu().select_response().set_success();
    v.push_back({"response_success", ok});
    static const char* const causes[] = {"invalidParams", "insufficientResources", "invalidSlot",
                                         "slotNotExists", "unexpectedMsgType", "internal", "unsupported",
                                         "reconnectionFail", "disconnectFail", "connectFail", "busError",
                                         "slotIdBusy", "destroyInProgress"};
    for (int cause = 0; cause <= 12; ++cause) {
        LGCP::Message m = message(100 + cause, {});
        m.get_pdu().select_response().set_error(static_cast<LGCP::ErrorCause::NamedNumber>(cause));
        v.push_back({std::string("response_error_") + causes[cause], m});
    }
    return v;
}

std::vector<Named<LGCP::Message>> signals()
{
    std::vector<Named<LGCP::Message>> v;
    auto add = [&](const char* name, LGCP::Message m) { v.push_back({std::string("signal_") + name, m}); };

    LGCP::Message m = message({}, {});
    LGCP::Resources& res = signal(m).select_query();
    res.set_boardMajor(2);
    res.set_boardMinor(1);
    ACP::VersionInfo& ver = res.include_drvVersion();
    ver.set_type(ACP::BuildType::snapshot);
    ver.set_version("1.2.3");
    ver.set_date("2026-12-06");
    ver.set_revision(4711);
    res.set_rtp_g729(8);
    res.set_rtp_g723(0);
    res.set_rtp_g711(64);
    res.set_rtp_g711mcc(2);
    res.set_modem(4);
    LGCP::MixerResources_subtype mixer;
    mixer.set_unit(0);
    mixer.set_tdm_inputs(32);
    mixer.set_tdm_outputs(32);
    mixer.set_mixer_inputs(16);
    mixer.set_dpu_per_mixer(1);
    mixer.set_dpu_per_ec(2);
    mixer.set_dpu_per_lms(3);
    res.get_mixer().push_back(mixer);
    res.set_mux(true);
    res.set_mcc_data(1);
    res.set_mcc_bri(2);
    res.set_mcc_trans(3);
    res.get_echoBus().push_back(ASN1::INTEGER(4));
    res.get_echoBus().push_back(ASN1::INTEGER(5));
    res.set_t38_instances(6);
    res.set_digital_modems(7);
    res.set_lin16(8);
    res.set_universal(9);
    add("query", m);

    m = message({}, 20u);
    LGCP::TonecEvent& tonec = signal(m).select_tonec();
    tonec.set_timestamp(123456);
    tonec.get_event().set_dtmf(11);
    add("tonec", m);

    m = message({}, 20u);
    LGCP::TonecEvent& done = signal(m).select_tonec();
    done.set_timestamp(1);
    done.get_event().set_dtmfDone();
    add("tonec_dtmfDone", m);

    m = message({}, 21u);
    signal(m).set_number("5551234");
    add("number", m);

    m = message({}, 22u);
    TERM::MdmAccounting& acct = signal(m).select_modemProceeding().select_acct();
    acct.get_octetsOut().set_low(-1);
    acct.get_octetsOut().set_high(1);
    acct.get_octetsIn().set_low(2);
    acct.get_octetsIn().set_high(0);
    acct.get_packetsOut().set_low(3);
    acct.get_packetsOut().set_high(0);
    acct.get_packetsIn().set_low(4);
    acct.get_packetsIn().set_high(0);
    acct.get_time().set_low(60);
    acct.get_time().set_high(0);
    add("modemProceeding", m);

    m = message({}, 22u);
    TERM::ModemInformation& info = signal(m).select_modemInformation();
    info.set_rxSpeed(33600);
    info.set_txSpeed(31200);
    info.set_carrier(TERM::MdmCarrier::v34);
    add("modemInformation", m);

    m = message({}, 23u);
    signal(m).set_activated();
    add("activated", m);

    m = message({}, 23u);
    signal(m).set_deactivated(LGCP::DeactivateCause::otherError);
    add("deactivated", m);

    m = message({}, 23u);
    signal(m).set_abort(-2);
    add("abort", m);

    m = message({}, 24u);
    signal(m).set_userData(std::string(1, '\x01'));
    add("userData", m);

    m = message({}, 25u);
    signal(m).select_receiver().set_active(8000);
    add("receiver", m);

    m = message({}, 25u);
    signal(m).select_transmitter().set_inactive();
    add("transmitter", m);

    m = message({}, {});
    ACP::TrunkStatus& ts = signal(m).select_trunkStatus();
    ts.set_trunk(1);
    ts.set_state(ACP::TrunkState::ais);
    ts.set_slips(2);
    ts.set_lossBF(3);
    ts.set_lossCarrier(4);
    ts.set_lossAIS(5);
    ts.set_lossRAI(6);
    ts.set_name("E1-1");
    ts.set_clockMaster(true);
    ts.set_type(ACP::TrunkType::bri);
    add("trunkStatus", m);

    m = message({}, 26u);
    ACP::IsdnLinkInfo& link = signal(m).select_ioctl().select_isdnLinkInfo();
    link.set_side(ACP::IsdnSide::network);
    link.set_msuTxCount(1);
    link.set_msuRxCount(2);
    link.set_mT200(3);
    link.set_mT203(4);
    link.set_errors(5);
    link.set_retrains(6);
    link.set_rejected(7);
    link.set_badconfirm(8);
    link.set_outOverflows(9);
    link.set_ackOverflows(10);
    link.set_lapdState(ACP::LAPDState::multiple_frame_established);
    link.set_rc(11);
    link.set_peerBusy(false);
    link.set_ownBusy(true);
    link.set_rejException(false);
    link.set_ackPending(true);
    link.set_l3Initiated(false);
    link.set_establishable(true);
    link.set_queuedUpRQ(false);
    link.set_retrRQ(true);
    link.set_ackRQ(false);
    link.set_t200run(true);
    link.set_t203run(false);
    link.set_vs(127);
    link.set_va(126);
    link.set_vr(125);
    link.set_queueOut(0);
    link.set_queueAck(1);
    add("ioctl", m);

    m = message({}, {});
    LGCP::LoadAverage& load = signal(m).select_loadAvg();
    load.set_average1(1);
    load.set_average5(2);
    load.set_average15(3);
    load.set_cpuUseage(4);
    load.set_cpuNicage(5);
    load.set_cpuIdlage(6);
    load.set_cpuSysage(7);
    add("loadAvg", m);

    m = message({}, {});
    LGCP::CasSignalling& cas = signal(m).select_cas();
    cas.get_channel().set_path(0);
    cas.get_channel().set_timeslot(1);
    cas.set_rx(9);
    cas.set_tx(6);
    add("cas", m);

    m = message({}, 27u);
    TERM::RtpRadioRequest& lemzReq = signal(m).select_rtpExt();
    TERM::LemzRadioStatus& st = lemzReq.get_status().select_lemz();
    st.set_flags(radioFlags());
    st.get_freq().set_channel(12);
    st.get_freq().set_frequency("118250");
    st.get_remote().set_no(255);
    st.get_remote().set_ch(0);
    st.set_squelshe(TERM::RadioSquelshe::on);
    st.set_rte(TERM::RadioRTE::j3e);
    st.set_standby_state_channel(TERM::RadioStandby::standby);
    st.set_standby_group(200);
    st.set_standby_state_receiver(TERM::RadioStandby::active);
    lemzReq.set_rx_delay(20);
    lemzReq.set_bss_enable(true);
    add("rtpExt_lemz", m);

    m = message({}, 28u);
    TERM::RtpRadioRequest& edReq = signal(m).select_rtpExt();
    TERM::ED137RadioStatus& ed = edReq.get_status().select_ed_137();
    ed.set_header(ed137Header());
    ed.set_radio_response(ed137Response());
    TERM::ED137RadioExtensionSQI& sqi = ed.include_sqi();
    sqi.set_bss_method(TERM::ED137RadioBSSMethod::agc);
    sqi.set_bss_quality(31);
    TERM::ED137RadioModifier& mod = edReq.include_request().select_ed_137();
    mod.get_addr().set_session_addr("1.2.3.4");
    mod.get_addr().set_session_ssrc(5);
    mod.get_params().select_tx().set_header(ed137Header());
    edReq.set_selcal_delay(100);
    add("rtpExt_ed137", m);

    m = message({}, 29u);
    signal(m).select_vad().set_vad_rx(true);
    add("vad", m);

    m = message({}, {});
    signal(m).set_power(LGCP::POWERStatus::both);
    add("power", m);

    m = message({}, 30u);
    LEMZGW::ProtoLemzPacket packet;
    packet.set_msgLength(12);
    packet.set_msgSeqNum(1);
    packet.set_msgID(LEMZGW::ProtoLemzMsgID::gw_rad_state);
    packet.set_stateProtocol(LEMZGW::ProtoLemzProtocol::protocol_v2);
    packet.set_stateMode(LEMZGW::ProtoLemzMode::radio);
    packet.set_stateMaster(1);
    packet.set_srcAddr(LEMZGW::ProtoLemzAddress::rgw);
    packet.set_srcChannel(0);
    packet.set_dstAddr(LEMZGW::ProtoLemzAddress::lgw);
    packet.set_dstChannel(1);
    LEMZGW::ProtoLemzPacketPayloadGWRadState& state = packet.get_payload().select_gw_rad_state();
    state.set_channel(1);
    state.set_type(LEMZGW::ProtoLemzGwRadioState::selCh);
    LEMZGW::ProtoLemzPacketPayloadRadCommandSelectChannel& ch = state.get_payload().select_selCh();
    ch.set_select_interface(2);
    ch.set_select_channel(3);
    signal(m).select_protoLemz().get_packets().push_back(packet);
    add("protoLemz", m);

    m = message({}, 31u);
    signal(m).select_sd();
    add("sd", m);

    m = message({}, 32u);
    signal(m).select_bss().set_score("15");
    add("bss", m);

    m = message({}, 33u);
    LGCP::RtpPDEvent& pd = signal(m).select_rtp().select_pd();
    pd.set_value(1);
    pd.set_timeout(2000);
    add("rtp", m);

    m = message({}, 34u);
    signal(m).select_selcal().set_in_progress(true);
    add("selcal", m);
    return v;
}

std::vector<Named<MON::Message>> monMessages()
{
    std::vector<Named<MON::Message>> v;
    auto add = [&](const char* name, const MON::Message& m) { v.push_back({std::string("mon_") + name, m}); };

    MON::Message m;
    MON::SnmpSetCommand set;
    set.set_uniq(1);
    MON::IniName& name = set.get_id().select_name();
    name.set_section("e1");
    name.set_name("framer");
    name.set_index(3);
    set.set_value("ok");
    m.get_pdu().select_command().select_snmp_set().get_commands().push_back(set);
    add("command_snmp_set", m);

    m = MON::Message();
    MON::SnmpTrapsinks& sinks = m.get_pdu().select_command().select_snmp_trapsink_set();
    MON::SnmpTrapsink s1;
    s1.set_host("10.0.0.1");
    sinks.get_trapsinks().push_back(s1);
    MON::SnmpTrapsink s2;
    s2.set_host("nms.example");
    s2.set_port(162);
    sinks.get_trapsinks().push_back(s2);
    add("command_trapsinks", m);

    m = MON::Message();
    MON::SnmpTraps& traps = m.get_pdu().select_command().select_snmp_trap_send();
    MON::SnmpTrap t1;
    t1.get_trap().set_oid("1.3.6.1.6.3.1.1.5.1");
    traps.get_traps().push_back(t1);
    MON::SnmpTrap t2;
    t2.get_trap().set_name("coldStart");
    traps.get_traps().push_back(t2);
    add("command_traps", m);

    m = MON::Message();
    m.get_pdu().select_command().set_ping();
    add("command_ping", m);

    m = MON::Message();
    MON::SnmpSetResponses& responses = m.get_pdu().select_response().select_snmp_set();
    MON::SnmpSetResponse r1;
    r1.set_uniq(1);
    r1.get_response().set_success();
    responses.get_responses().push_back(r1);
    MON::SnmpSetResponse r2;
    r2.set_uniq(2);
    r2.get_response().set_error(MON::ErrorCause::wrongValue);
    responses.get_responses().push_back(r2);
    add("response_snmp_set", m);

    m = MON::Message();
    m.get_pdu().select_response().select_snmp_trapsink_set().set_success();
    add("response_trapsinks", m);

    m = MON::Message();
    m.get_pdu().select_response().select_snmp_trap_send().set_error(MON::ErrorCause::itemNotFound);
    add("response_traps", m);

    m = MON::Message();
    m.get_pdu().select_response().select_ping().set_success();
    add("response_ping", m);

    m = MON::Message();
    MON::SnmpSetSignal& sig = m.get_pdu().select_signal().select_snmp_set();
    sig.set_oid("1.3.6.1.2.1.1.5.0");
    sig.get_name().set_section("s");
    sig.get_name().set_name("n");
    sig.get_name().set_index(-1);
    sig.set_value("board");
    add("signal_snmp_set", m);
    return v;
}

}  // namespace reference
