// Control-link and agent-link messages from untrusted octets: what decodes is written as
// value notation, as every traced frame is, and survives a second trip through the coder.
#include "tests/asn1/Codec.h"
#include "tests/fuzz/FuzzSupport.h"

#include "asn1/schemas/LGCP.h"
#include "asn1/schemas/MON.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (const void* record : {&LGCP::Message::theInfo, &MON::Message::theInfo}) {
        auto message = asn1test::decodeNew(record, fuzz::text(data, size));
        if (!message)
            continue;
        // Every line break of the text starts an indented line or a closing brace: nothing from
        // the frame can begin a line of its own in the log.
        const std::string text = message->asValueNotation();
        for (size_t i = text.find('\n'); i != std::string::npos; i = text.find('\n', i + 1))
            fuzz::require(i + 1 < text.size() && (text[i + 1] == ' ' || text[i + 1] == '}'));
        fuzz::require(asn1test::reencodesStably(record, *message));
    }
    return 0;
}
