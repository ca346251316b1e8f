// BER decoder on untrusted octets. The first octet picks the type; whatever decodes must
// encode, decode back to an equal value, print and be checked without fault.
#include "tests/asn1/Codec.h"
#include "tests/asn1_text/TextProbe.h"
#include "tests/fuzz/FuzzSupport.h"

#include "asn1/InvalidTracer.h"
#include "asn1/schemas/LGCP.h"
#include "asn1/schemas/MON.h"

#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const void* const records[] = {&TextProbe::Message::theInfo, &TextProbe::Texts::theInfo,
                                          &TextProbe::Lists::theInfo, &TextProbe::Numbers::theInfo,
                                          &TextProbe::Pick::theInfo, &ASN1::OpenData::theInfo,
                                          &LGCP::Message::theInfo, &MON::Message::theInfo};
    if (size == 0)
        return 0;
    const void* record = fuzz::pick(records, data[0]);
    const int ber = ASN1::CoderEnv::ber;
    auto value = asn1test::decodeNew(record, fuzz::text(data + 1, size - 1), ber, false);
    if (!value)
        return 0;
    std::ostringstream text;
    text << *value;
    ASN1::trace_invalid(text, "", *value);
    std::vector<char> again;
    fuzz::require(asn1test::encodeTo(*value, again, ber));  // a decoded value has what an encoding needs
    auto back = asn1test::decodeNew(record, {again.data(), again.size()}, ber, false);
    fuzz::require(back && back->compare(*value) == 0);
    return 0;
}
