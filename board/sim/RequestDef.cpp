#include "board/sim/RequestDef.h"

#include <cstddef>

#include "board/dsp.h"
#include "board/dspdata.h"
#include "board/dtmf.h"
#include "board/e1cas.h"
#include "board/hal.h"
#include "board/maintenance.h"
#include "board/mcc.h"
#include "board/mctl.h"
#include "board/rtp_ext.h"
#include "board/sim/SimMixer.h"
#include "board/sim/SimRtp.h"
#include "board/sim/SimVoice.h"

namespace board::sim {

namespace {

using K = FieldDef::Kind;
#define F(Record, member, width, kind) FieldDef{#member, static_cast<uint8_t>(offsetof(Record, member)), width, kind}
#define VALUE(name) FieldDef{name, 0, 4, K::u}

constexpr RequestDef kHal[] = {
    {hal::MUX_CONNECT, "MUX_CONNECT", ArgForm::record, 2,
     {F(hal::MuxConnect, output, 4, K::s), F(hal::MuxConnect, source, 4, K::s)}},
    {hal::MUX_DISABLE, "MUX_DISABLE", ArgForm::record, 1, {F(hal::MuxChannel, channel, 4, K::s)}},
    {hal::MUX_WRITE, "MUX_WRITE", ArgForm::record, 2,
     {F(hal::MuxValue, channel, 4, K::s), F(hal::MuxValue, value, 4, K::s)}},
    {hal::MUX_READ, "MUX_READ", ArgForm::record, 2, {F(hal::MuxValue, channel, 4, K::s), F(hal::MuxValue, value, 4, K::s)}},
    {hal::HW_CLOCK_SELECT, "HW_CLOCK_SELECT", ArgForm::record, 1, {F(hal::ClockSource, source, 4, K::s)}},
    {hal::SPI_READ, "SPI_READ", ArgForm::record, 3,
     {F(hal::SpiRegister, channel, 1, K::u), F(hal::SpiRegister, address, 1, K::u), F(hal::SpiRegister, data, 1, K::u)}},
    {hal::SPI_WRITE, "SPI_WRITE", ArgForm::record, 3,
     {F(hal::SpiRegister, channel, 1, K::u), F(hal::SpiRegister, address, 1, K::u), F(hal::SpiRegister, data, 1, K::u)}},
    {hal::DIP_READ, "DIP_READ", ArgForm::record, 1, {F(hal::ByteRegister, value, 1, K::u)}},
    {hal::POWER_READ, "POWER_READ", ArgForm::record, 1, {F(hal::ByteRegister, value, 1, K::u)}},
    {hal::LED_WRITE, "LED_WRITE", ArgForm::record, 1, {F(hal::ByteRegister, value, 1, K::u)}},
};

constexpr RequestDef kMcc[] = {
    {mcc::MCC_ALLOCATE, "MCC_ALLOCATE", ArgForm::record, 5,
     {F(mcc::Allocate, type, 4, K::u), F(mcc::Allocate, rx_packet_size, 4, K::u), F(mcc::Allocate, reserved, 4, K::u),
      F(mcc::Allocate, rx_threshold, 4, K::u), F(mcc::Allocate, tx_threshold, 4, K::u)}},
    {mcc::MCC_TIMESLOT, "MCC_TIMESLOT", ArgForm::none, 0, {}},
    {mcc::MCC_RESOURCES, "MCC_RESOURCES", ArgForm::record, 0, {}},
};

constexpr RequestDef kMaintenance[] = {
    {maintenance::SET_TCLK, "SET_TCLK", ArgForm::value, 1, {VALUE("mask")}},
    {maintenance::TRUNK_STATUS, "TRUNK_STATUS", ArgForm::record, 1, {F(maintenance::TrunkStatus, trunk, 4, K::u)}},
};

constexpr RequestDef kE1cas[] = {
    {e1cas::CAS_OPEN_TRUNK, "CAS_OPEN_TRUNK", ArgForm::value, 1, {VALUE("trunk")}},
    {e1cas::CAS_CLOSE_TRUNK, "CAS_CLOSE_TRUNK", ArgForm::value, 1, {VALUE("trunk")}},
    {e1cas::CAS_GET, "CAS_GET", ArgForm::record, 2, {F(e1cas::CasChannel, trunk, 4, K::u), F(e1cas::CasChannel, timeslot, 4, K::u)}},
    {e1cas::CAS_ENABLE, "CAS_ENABLE", ArgForm::record, 4,
     {FieldDef{"trunk", 0, 4, K::u}, FieldDef{"timeslot", 4, 4, K::u}, FieldDef{"tx", 9, 1, K::u},
      F(e1cas::CasEnable, disable, 4, K::u)}},
};

constexpr RequestDef kDtmf[] = {
    {dtmf::DTMF_CONFIGURE_DETECTOR, "DTMF_CONFIGURE_DETECTOR", ArgForm::record, 5,
     {F(dtmf::DetectorConfig, timeslot, 4, K::u), F(dtmf::DetectorConfig, twist, 4, K::u),
      F(dtmf::DetectorConfig, ratio, 4, K::u), F(dtmf::DetectorConfig, silence, 4, K::u),
      F(dtmf::DetectorConfig, noise, 4, K::u)}},
    {dtmf::DTMF_ENABLE_DETECTOR, "DTMF_ENABLE_DETECTOR", ArgForm::record, 2,
     {F(dtmf::DetectorEnable, timeslot, 4, K::u), F(dtmf::DetectorEnable, id, 4, K::u)}},
    {dtmf::DTMF_DISABLE_DETECTOR, "DTMF_DISABLE_DETECTOR", ArgForm::value, 1, {VALUE("timeslot")}},
    {dtmf::DTMF_DIAL, "DTMF_DIAL", ArgForm::record, 5,
     {F(dtmf::ToneGenerator, timeslot, 4, K::u), F(dtmf::ToneGenerator, frequency1, 2, K::u),
      F(dtmf::ToneGenerator, frequency2, 2, K::u), F(dtmf::ToneGenerator, amplitude1, 2, K::u),
      F(dtmf::ToneGenerator, amplitude2, 2, K::u)}},
    {dtmf::CHANNEL_LMS_ON, "CHANNEL_LMS_ON", ArgForm::value, 1, {VALUE("timeslot")}},
    {dtmf::CHANNEL_LMS_OFF, "CHANNEL_LMS_OFF", ArgForm::value, 1, {VALUE("timeslot")}},
    {dtmf::DTMF_REJECTION_ENABLE, "DTMF_REJECTION_ENABLE", ArgForm::value, 1, {VALUE("timeslot")}},
    {dtmf::DTMF_REJECTION_DISABLE, "DTMF_REJECTION_DISABLE", ArgForm::value, 1, {VALUE("timeslot")}},
    {dtmf::IVA_DETECTOR_ENABLE, "IVA_DETECTOR_ENABLE", ArgForm::value, 1, {VALUE("timeslot")}},
    {dtmf::IVA_DETECTOR_DISABLE, "IVA_DETECTOR_DISABLE", ArgForm::value, 1, {VALUE("timeslot")}},
    {dtmf::IVA_CONFIGURE_DETECTOR, "IVA_CONFIGURE_DETECTOR", ArgForm::record, 2,
     {F(dtmf::IvaConfig, timeslot, 4, K::u), F(dtmf::IvaConfig, level_db, 4, K::s)}},
    {dtmf::SELCAL_DIAL, "SELCAL_DIAL", ArgForm::record, 3,
     {F(dtmf::SelcalDial, timeslot, 4, K::u), F(dtmf::SelcalDial, amplitude, 2, K::u),
      F(dtmf::SelcalDial, signs, 4, K::chars)}},
};

constexpr RequestDef kDsp[] = {
    {dsp::DSPROC_CONFIGURE, "DSPROC_CONFIGURE", ArgForm::record, 5,
     {F(dsp::Configure, timeslot, 4, K::u), F(dsp::Configure, what, 4, K::u), FieldDef{"word2", 8, 4, K::u},
      FieldDef{"word3", 12, 4, K::u}, FieldDef{"word4", 16, 4, K::u}}},
    {dsp::DSPROC_ENABLE, "DSPROC_ENABLE", ArgForm::record, 3,
     {F(dsp::FeatureMask, timeslot, 4, K::u), F(dsp::FeatureMask, id, 4, K::u), F(dsp::FeatureMask, mask, 4, K::u)}},
    {dsp::DSPROC_DISABLE, "DSPROC_DISABLE", ArgForm::record, 3,
     {F(dsp::FeatureMask, timeslot, 4, K::u), F(dsp::FeatureMask, id, 4, K::u), F(dsp::FeatureMask, mask, 4, K::u)}},
    {dsp::DSPROC_VAD_VERSION, "DSPROC_VAD_VERSION", ArgForm::value, 1, {VALUE("value")}},
};

constexpr RequestDef kRtpExt[] = {
    {rtp_ext::RTP_EXT_INIT, "RTP_EXT_INIT", ArgForm::record, 5,
     {F(rtp_ext::InitParams, etype, 2, K::u), F(rtp_ext::InitParams, mode, 4, K::u),
      F(rtp_ext::InitParams, keepalive_pt, 4, K::u), F(rtp_ext::InitParams, keepalive_period, 4, K::u),
      F(rtp_ext::InitParams, keepalive_sigtime, 4, K::u)}},
    {rtp_ext::RTP_EXT_ATTACH, "RTP_EXT_ATTACH", ArgForm::record, 2,
     {F(rtp_ext::AttachParams, fd_rtp, 4, K::s), F(rtp_ext::AttachParams, pid_rtp, 4, K::s)}},
    {rtp_ext::RTP_EXT_DETACH, "RTP_EXT_DETACH", ArgForm::none, 0, {}},
    {rtp_ext::RTP_EXT_RX_INFO, "RTP_EXT_RX_INFO", ArgForm::record, 0, {}},
    {rtp_ext::RTP_EXT_SET_FILTER, "RTP_EXT_SET_FILTER", ArgForm::record, 1, {F(rtp_ext::Filter, src_addr, 4, K::u)}},
    {rtp_ext::RTP_EXT_RESET_FILTER, "RTP_EXT_RESET_FILTER", ArgForm::none, 0, {}},
};

constexpr RequestDef kMctl[] = {
    {mctl::MDM_ALLOCATE, "MDM_ALLOCATE", ArgForm::none, 0, {}},
    {mctl::MDM_ENUM, "MDM_ENUM", ArgForm::value, 1, {FieldDef{"previous", 0, 4, K::s}}},
    {mctl::MDM_GET_TIMESLOT, "MDM_GET_TIMESLOT", ArgForm::none, 0, {}},
    {mctl::MDM_SET_DDM, "MDM_SET_DDM", ArgForm::record, 2,
     {F(mctl::ModemFlags, modem, 4, K::s), F(mctl::ModemFlags, flags, 4, K::u)}},
    {mctl::MDM_RESET_PARAMS, "MDM_RESET_PARAMS", ArgForm::record, 2,
     {F(mctl::ModemOnly, modem, 4, K::s), F(mctl::ModemOnly, unused, 4, K::s)}},
    {mctl::MDM_SET_PARAM, "MDM_SET_PARAM", ArgForm::record, 3,
     {F(mctl::ModemParam, modem, 4, K::s), F(mctl::ModemParam, offset, 4, K::s), F(mctl::ModemParam, value, 4, K::s)}},
    {mctl::MDM_ANSWER, "MDM_ANSWER", ArgForm::record, 2,
     {F(mctl::ModemOnly, modem, 4, K::s), F(mctl::ModemOnly, unused, 4, K::s)}},
    {mctl::MDM_ORIGINATE, "MDM_ORIGINATE", ArgForm::record, 2,
     {F(mctl::ModemOnly, modem, 4, K::s), F(mctl::ModemOnly, unused, 4, K::s)}},
    {mctl::MDM_FAX_ORIGINATE, "MDM_FAX_ORIGINATE", ArgForm::record, 2,
     {F(mctl::ModemOnly, modem, 4, K::s), F(mctl::ModemOnly, unused, 4, K::s)}},
};

constexpr RequestDef kDspData[] = {
    {dspdata::DSPDATA_TIMESLOT, "DSPDATA_TIMESLOT", ArgForm::none, 0, {}},
    {dspdata::DSPDATA_OPEN_B, "DSPDATA_OPEN_B", ArgForm::record, 2,
     {F(dspdata::BChannel, index, 4, K::u), F(dspdata::BChannel, channel, 4, K::s)}},
    {dspdata::DSPDATA_CLOSE_B, "DSPDATA_CLOSE_B", ArgForm::record, 2,
     {F(dspdata::BChannel, index, 4, K::u), F(dspdata::BChannel, channel, 4, K::s)}},
};

#undef F
#undef VALUE

std::span<const RequestDef> table(Device device) {
  switch (device) {
    case Device::hal: return kHal;
    case Device::mcc: return kMcc;
    case Device::maintenance: return kMaintenance;
    case Device::e1cas: return kE1cas;
    case Device::dtmf: return kDtmf;
    case Device::dsp: return kDsp;
    case Device::rtp_ext: return kRtpExt;
    case Device::rtp: return SimRtp::requests();
    case Device::voice: return SimVoice::requests();
    case Device::mctl: return kMctl;
    case Device::dspdata: return kDspData;
    case Device::mixer: return SimMixer::requests();
  }
  return {};
}

}  // namespace

const RequestDef* find_request(Device device, uint32_t number) {
  for (const RequestDef& def : table(device)) {
    if (def.number == number) return &def;
  }
  return nullptr;
}

std::span<const RequestDef> requests_of(Device device) { return table(device); }

int64_t read_field(const FieldDef& field, const uint8_t* record) {
  uint32_t v = 0;
  for (int i = 0; i < field.width; ++i) v = (v << 8) | record[field.offset + i];
  if (field.kind == FieldDef::s) {
    int shift = 32 - 8 * field.width;
    return static_cast<int32_t>(v << shift) >> shift;
  }
  return v;
}

}  // namespace board::sim
