// Reads a value tree from ASN.1 value notation text, the form AVNEncoder writes. Input is
// treated as untrusted: strings and lists are bounded by MaximumStringSize and
// MaximumArraySize, and one read creates at most MaximumDecodeNodes values.
#pragma once

#include "asn1/DecodeBudget.h"
#include "asn1/Visitor.h"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace ASN1 {

class AVNDecoder : public Visitor {
public:
    explicit AVNDecoder(std::istream& is);

    VX_ASN1_VISITOR_OVERRIDES;
    bool do_visit(IntegerWithNamedNumber& v) override;
    int preVisitExtensionRoots(SEQUENCE& seq) override;
    int visitExtensionRoot(SEQUENCE& seq, int index, int optionalId) override;
    int visitKnownExtension(SEQUENCE& seq, int index, int optionalId) override;
    bool visitUnknownExtensions(SEQUENCE& seq) override;

private:
    int readField(SEQUENCE& seq, int index, int optionalId);
    // After a field: "," and the next name, or "}" (kept as the name "}").
    bool readNextName();

    std::istream* is_;
    std::vector<std::string> names_;  // per SEQUENCE being read: the field name last read
    DecodeBudget budget_;
    unsigned depth_;  // SEQUENCE OF and CHOICE values being read
};

// Skips blanks and line breaks; true when c comes next (and consumes it).
bool get_token(std::istream& is, char c);
// An identifier (a letter, then letters, digits, '-' or '_').
bool get_word(std::istream& is, std::string& word);
// A decimal number within [min, max].
bool get_number(std::istream& is, int64_t min, int64_t max, int64_t& value);
// A quoted text ("" stands for one quote) or a character string list of quoted texts and
// {column, row} tuples; at most MaximumStringSize characters.
bool get_string(std::istream& is, std::string& text);
// A quoted binary ('...'B) or hexadecimal ('...'H) string; size receives the number of bits.
bool get_value_from(std::istream& is, std::vector<char>& bytes, unsigned& size);
// Digits of the radix (2 or 16; blanks dropped) into octets, padded with 0 digits at the end;
// size receives the number of bits the digits carry.
bool get_from_string(const std::string& digits, std::vector<char>& bytes, unsigned& size, int radix);
// Index of name among count names; false when absent.
bool get_id(const char* const* names, unsigned count, const std::string& name, unsigned& index);

}  // namespace ASN1
