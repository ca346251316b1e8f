// Value-notation reader on untrusted text. The first octet picks the type; whatever reads
// must print, and the printed text must read back to an equal value.
#include "tests/asn1_text/TextProbe.h"

#include "asn1/ASN1.h"
#include "asn1/schemas/LGCP.h"
#include "asn1/schemas/MON.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    static const void* const records[] = {&TextProbe::Message::theInfo, &TextProbe::Texts::theInfo,
                                          &TextProbe::Lists::theInfo, &TextProbe::Numbers::theInfo,
                                          &TextProbe::Pick::theInfo,
                                          &LGCP::Message::theInfo, &MON::Message::theInfo};
    const void* record = records[data[0] % (sizeof records / sizeof records[0])];
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    std::unique_ptr<ASN1::AbstractData> value(ASN1::createFrom(record));
    if (!value->setFromValueNotation(text))
        return 0;
    std::string written = value->asValueNotation();
    std::unique_ptr<ASN1::AbstractData> back(ASN1::createFrom(record));
    if (!back->setFromValueNotation(written) || back->compare(*value) != 0)
        std::abort();
    return 0;
}
