// BER decoder: fills a value tree from untrusted octets. Lengths are definite, at most four
// length octets, and never run past the enclosing component; strings and lists are bounded
// by MaximumStringSize and MaximumArraySize, and one decode creates at most
// MaximumDecodeNodes values.
#pragma once

#include "asn1/DecodeBudget.h"
#include "asn1/Visitor.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ASN1 {

class CoderEnv;

class BERDecoder : public Visitor {
public:
    // env: handed on to the decoder of kept open-type octets (null: keep them undecoded).
    BERDecoder(const char* first, const char* last, const CoderEnv* env = nullptr);

    const CoderEnv* env() const { return env_; }
    size_t position() const { return pos_; }
    bool atEnd() const { return pos_ >= limit(); }

    // Reads identifier and length octets; the length fits in what is left of the enclosing
    // component. Fails (position unchanged) on anything malformed.
    bool decodeHeader(uint32_t& tag, bool& primitive, uint32_t& length);
    // The same, accepting only value's own tag unless a check was waived for this header.
    bool decodeHeader(const AbstractData& value, uint32_t& length);
    // Copies the lesser of count and the octets left; returns the count copied.
    size_t decodeBlock(char* dest, size_t count);
    // Reads an alternative's header and selects it; end receives the end of the alternative.
    bool decodeChoicePreamle(CHOICE& choice, size_t& end);

    VX_ASN1_VISITOR_OVERRIDES;
    int preVisitExtensionRoots(SEQUENCE& seq) override;
    int visitExtensionRoot(SEQUENCE& seq, int index, int optionalId) override;
    int visitKnownExtension(SEQUENCE& seq, int index, int optionalId) override;
    bool visitUnknownExtensions(SEQUENCE& seq) override;

private:
    // End of the innermost component being read.
    size_t limit() const { return ends_.empty() ? end_ : ends_.back(); }
    bool takeWaiver();
    // Reads a header whose tag must be expected when check is set; on a mismatch the position
    // is left unchanged.
    bool decodeExpectedHeader(uint32_t expected, bool check, uint32_t& length);
    // Enters a constructed component ending at end; false when too deep or past the limit.
    bool pushEnd(size_t end);
    // Leaves the innermost component, moving to its end when ok; returns ok.
    bool popEnd(bool ok);
    bool readContents(const AbstractData& value, uint32_t& length, const char*& contents);
    bool readSignedContents(const AbstractData& value, int64_t& number, bool allowUnsignedWord);
    // Reads value, whose header comes next, under the tag check waived once.
    bool decodeWaived(AbstractData& value);
    // Reads value within [pos, end) and moves to end.
    bool decodeWithin(AbstractData& value, size_t end);
    int decodeField(SEQUENCE& seq, int index, int optionalId);

    const CoderEnv* env_;
    const unsigned char* data_;
    size_t pos_;
    size_t end_;
    std::vector<size_t> ends_;  // one per constructed component being read
    unsigned unchecked_;        // headers whose tag is not to be checked
    DecodeBudget budget_;
};

}  // namespace ASN1
