// BER decoder on untrusted octets. The first octet picks the type; whatever decodes must
// encode, decode back to an equal value, print and be checked without fault.
#include "tests/asn1_text/TextProbe.h"

#include "asn1/ASN1.h"
#include "asn1/schemas/LGCP.h"
#include "asn1/schemas/MON.h"
#include "asn1/InvalidTracer.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    static const void* const records[] = {&TextProbe::Message::theInfo, &TextProbe::Texts::theInfo,
                                          &TextProbe::Lists::theInfo, &TextProbe::Numbers::theInfo,
                                          &TextProbe::Pick::theInfo, &ASN1::OpenData::theInfo,
                                          &LGCP::Message::theInfo, &MON::Message::theInfo};
    const void* record = records[data[0] % (sizeof records / sizeof records[0])];
    const char* first = reinterpret_cast<const char*>(data + 1);
    const char* last = reinterpret_cast<const char*>(data + size);
    const ASN1::CoderEnv env(ASN1::CoderEnv::ber);

    std::unique_ptr<ASN1::AbstractData> value(ASN1::createFrom(record));
    if (!ASN1::decode(first, last, &env, *value))
        return 0;
    std::ostringstream text;
    text << *value;
    ASN1::trace_invalid(text, "", *value);
    std::vector<char> again;
    if (!ASN1::encode(*value, &env, std::back_inserter(again)))
        std::abort();  // a decoded value always has what an encoding needs
    std::unique_ptr<ASN1::AbstractData> back(ASN1::createFrom(record));
    if (!ASN1::decode(again.data(), again.data() + again.size(), &env, *back) || back->compare(*value) != 0)
        std::abort();
    return 0;
}
