// Decodes arbitrary bytes as a control-link and as an agent-link message, the two frames that
// arrive from outside, and encodes whatever decoded.
#include "asn1/CoderEnv.h"
#include "asn1/schemas/LGCP.h"
#include "asn1/schemas/MON.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

namespace {

template <class Message>
void decodeAndEncode(const char* first, const char* last)
{
    ASN1::CoderEnv env(ASN1::CoderEnv::per);
    Message message;
    if (!ASN1::decode(first, last, &env, message, true))
        return;
    std::vector<char> out;
    ASN1::encode(message, &env, std::back_inserter(out));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* first = reinterpret_cast<const char*>(data);
    decodeAndEncode<LGCP::Message>(first, first + size);
    decodeAndEncode<MON::Message>(first, first + size);
    return 0;
}
