// Decodes arbitrary bytes as a control-link and as an agent-link message, the two frames that
// arrive from outside. What decodes is written as value notation, as every traced frame is,
// and what encodes again must decode to an equal value with the same encoding.
#include "asn1/CoderEnv.h"
#include "asn1/schemas/LGCP.h"
#include "asn1/schemas/MON.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

namespace {

template <class Message>
void decodeAndEncode(const char* first, const char* last)
{
    ASN1::CoderEnv env(ASN1::CoderEnv::per);
    Message message;
    if (!ASN1::decode(first, last, &env, message, true))
        return;
    // Every line break of the text starts an indented line or a closing brace: nothing from
    // the frame can begin a line of its own in the log.
    const std::string text = message.asValueNotation();
    for (size_t i = text.find('\n'); i != std::string::npos; i = text.find('\n', i + 1))
        if (i + 1 >= text.size() || (text[i + 1] != ' ' && text[i + 1] != '}'))
            abort();
    std::vector<char> once;
    if (!ASN1::encode(message, &env, std::back_inserter(once)))
        return;  // a decoded value may hold what the encoder refuses (values above a bound)
    Message again;
    if (!ASN1::decode(once.data(), once.data() + once.size(), &env, again, true))
        abort();
    std::vector<char> twice;
    if (!ASN1::encode(again, &env, std::back_inserter(twice)) || twice != once || again.compare(message) != 0)
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* first = reinterpret_cast<const char*>(data);
    decodeAndEncode<LGCP::Message>(first, first + size);
    decodeAndEncode<MON::Message>(first, first + size);
    return 0;
}
