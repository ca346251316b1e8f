#include "asn1/CoderEnv.h"

#include "asn1/AbstractData.h"
#include "asn1/PERDecoder.h"
#include "asn1/PEREncoder.h"

namespace ASN1 {

bool CoderEnv::encodeBytes(const AbstractData& value, std::vector<char>& out) const
{
    // PER appends straight to out and takes back what it wrote when it fails.
    if (encodingRule_ == per) {
        const std::size_t before = out.size();
        if (detail::encodePER(value, out))
            return true;
        out.resize(before);
        return false;
    }
    // The coder writes into a buffer of its own, so that a failure leaves out untouched; the
    // buffer is kept between calls so that encoding a message does not allocate it anew.
    thread_local std::vector<char> scratch;
    thread_local bool scratchInUse = false;
    std::vector<char> local;
    const bool nested = scratchInUse;  // a coder that encodes through here gets its own
    std::vector<char>& bytes = nested ? local : scratch;
    bytes.clear();
    scratchInUse = true;
    struct Release {
        bool nested;
        ~Release() { scratchInUse = nested; }
    } release{nested};
    bool ok;
    switch (encodingRule_) {
    case ber: ok = detail::encodeBER(value, bytes); break;
    case avn: ok = detail::encodeAVN(value, bytes); break;
    default: return false;
    }
    if (ok)
        out.insert(out.end(), bytes.begin(), bytes.end());
    return ok;
}

bool CoderEnv::decode(const char* first, const char* last, AbstractData& value, bool defer) const
{
    const CoderEnv* env = defer ? nullptr : this;
    switch (encodingRule_) {
    case per: return detail::decodePER(first, last, env, value);
    case ber: return detail::decodeBER(first, last, env, value);
    case avn: return detail::decodeAVN(first, last, value);
    default: return false;
    }
}

namespace detail {

bool encodePER(const AbstractData& value, std::vector<char>& out)
{
    if (out.capacity() - out.size() < 256)
        out.reserve(out.size() + 256);
    PEREncoder encoder(out);
    return value.accept(encoder);
}

bool decodePER(const char* first, const char* last, const CoderEnv* env, AbstractData& value)
{
    PERDecoder decoder(first, last, env);
    return value.accept(decoder);
}

// encodeBER, decodeBER: BEREncoder.cpp, BERDecoder.cpp; encodeAVN, decodeAVN: AVNEncoder.cpp,
// AVNDecoder.cpp.

}  // namespace detail

}  // namespace ASN1
