// Decodes arbitrary octets as one of the Probe test types with the aligned PER decoder; what
// decodes and encodes again must decode again to an equal value with the same encoding.
// The first octet picks the type.
#include "tests/asn1/ProbeSchema.h"

#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <vector>

namespace {

using Grid = ASN1::SEQUENCE_OF<ASN1::SEQUENCE_OF<ASN1::Null>>;

std::unique_ptr<ASN1::AbstractData> make(unsigned kind)
{
    switch (kind % 5) {
    case 0: return std::make_unique<Probe::Message>();
    case 1: return std::make_unique<Probe::Texts>();
    case 2: return std::make_unique<Probe::Lists>();
    case 3: return std::make_unique<Probe::Numbers>();
    default: return std::make_unique<Grid>();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const unsigned kind = data[0];
    const char* first = reinterpret_cast<const char*>(data + 1);
    const char* last = reinterpret_cast<const char*>(data + size);
    ASN1::CoderEnv env(ASN1::CoderEnv::per);

    auto value = make(kind);
    if (!ASN1::decode(first, last, &env, *value, kind & 0x80))
        return 0;
    std::vector<char> once;
    if (!ASN1::encode(*value, &env, std::back_inserter(once)))
        return 0;  // a decoded value may hold what the encoder refuses (values above a bound)
    auto again = make(kind);
    if (!ASN1::decode(once.data(), once.data() + once.size(), &env, *again, true))
        abort();
    std::vector<char> twice;
    if (!ASN1::encode(*again, &env, std::back_inserter(twice)) || twice != once)
        abort();
    // Time texts are parsed leniently, so only the octets are compared for Texts.
    if (kind % 5 != 1 && again->compare(*value) != 0)
        abort();
    return 0;
}
