// Value-notation reader on untrusted text. The first octet picks the type; whatever reads
// must print, and the printed text must read back to an equal value.
#include "tests/asn1_text/TextProbe.h"
#include "tests/fuzz/FuzzSupport.h"

#include "asn1/schemas/LGCP.h"
#include "asn1/schemas/MON.h"

#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const void* const records[] = {&TextProbe::Message::theInfo, &TextProbe::Texts::theInfo,
                                          &TextProbe::Lists::theInfo, &TextProbe::Numbers::theInfo,
                                          &TextProbe::Pick::theInfo, &LGCP::Message::theInfo, &MON::Message::theInfo};
    if (size == 0)
        return 0;
    const void* record = fuzz::pick(records, data[0]);
    std::unique_ptr<ASN1::AbstractData> value(ASN1::createFrom(record)), back(ASN1::createFrom(record));
    if (!value->setFromValueNotation(std::string(fuzz::text(data + 1, size - 1))))
        return 0;
    fuzz::require(back->setFromValueNotation(value->asValueNotation()) && back->compare(*value) == 0);
    return 0;
}
