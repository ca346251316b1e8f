// Aligned PER decoder on untrusted octets as one of the Probe test types, picked by the first
// octet (whose top bit also asks to keep open types undecoded): whatever decodes must survive
// a second trip through the coder.
#include "tests/asn1/Codec.h"
#include "tests/asn1/ProbeSchema.h"
#include "tests/fuzz/FuzzSupport.h"

using Grid = ASN1::SEQUENCE_OF<ASN1::SEQUENCE_OF<ASN1::Null>>;

// {open <open type>, typed <open type of Inner>, more BIT STRING OPTIONAL, ..., late BMPString}
constinit const ASN1::OpenInfo typedInfo = {{&ASN1::createAs<ASN1::TypeConstrainedOpenData>, 0}, &Probe::Inner::theInfo};
const void* const holderFields[] = {&ASN1::OpenData::theInfo, &typedInfo, &ASN1::BIT_STRING::theInfo,
                                    &ASN1::BMPString::theInfo};
constexpr int holderIds[] = {-1, -1, 0};
const char* const holderNames[] = {"open", "typed", "more", "late"};
constinit const ASN1::SequenceInfo holderInfo =
    Asn1Test::sequenceRecord<ASN1::SEQUENCE>(holderFields, holderIds, holderNames, true);

const void* const records[] = {&Probe::Message::theInfo, &Probe::Texts::theInfo, &Probe::Lists::theInfo,
                               &Probe::Numbers::theInfo, &Grid::theInfo,         &holderInfo};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const void* record = fuzz::pick(records, data[0]);
    auto value = asn1test::decodeNew(record, fuzz::text(data + 1, size - 1), ASN1::CoderEnv::per, data[0] & 0x80);
    // Time texts are read leniently, so only the octets are compared for Texts.
    fuzz::require(!value || asn1test::reencodesStably(record, *value, record != &Probe::Texts::theInfo));
    return 0;
}
