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

// {open <open type>, typed <open type of Inner>, more BIT STRING OPTIONAL, ..., late BMPString}
constinit const ASN1::OpenInfo typedInfo = {{&ASN1::createAs<ASN1::TypeConstrainedOpenData>, 0}, &Probe::Inner::theInfo};
const void* const holderFields[] = {&ASN1::OpenData::theInfo, &typedInfo, &ASN1::BIT_STRING::theInfo,
                                    &ASN1::BMPString::theInfo};
const int holderIds[] = {-1, -1, 0};
const char* const holderNames[] = {"open", "typed", "more", "late"};
constinit const ASN1::SequenceInfo holderInfo = {
    {&ASN1::createAs<ASN1::SEQUENCE>, 16}, true, holderFields, holderIds, 3, 1, 1, nullptr, nullptr, holderNames};

std::unique_ptr<ASN1::AbstractData> make(unsigned kind)
{
    switch (kind % 6) {
    case 0: return std::make_unique<Probe::Message>();
    case 1: return std::make_unique<Probe::Texts>();
    case 2: return std::make_unique<Probe::Lists>();
    case 3: return std::make_unique<Probe::Numbers>();
    case 4: return std::make_unique<Grid>();
    default: return std::make_unique<ASN1::SEQUENCE>(&holderInfo);
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
    if (kind % 6 != 1 && again->compare(*value) != 0)
        abort();
    return 0;
}
